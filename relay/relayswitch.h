#pragma once

#include "acquisition/serialcomm.h"
#include "common/messageboxes.h"

#include <functional>

namespace qf {

// The relay buttons ON and OFF: they act on the serial link directly,
// continue after each failed step, and show an error of the open or close
// in a warning box.
class RelaySwitch {
public:
    // pollChannel reads the parser's channel counter (0 before the first
    // receive event, 4 after).
    RelaySwitch(SerialComm &comm, std::function<int()> pollChannel, MessageBoxes &boxes);

    // ON: opens the link unless it is open, then sends the relay letter.
    void switchOn();
    // OFF: closes the link unless it is closed, then sends the relay letter.
    void switchOff();

private:
    // Both buttons: bring the port to the wanted state, show an error of
    // that, then send the relay letter.
    void switchPort(bool open);

    SerialComm &m_comm;
    std::function<int()> m_pollChannel;
    MessageBoxes &m_boxes;
};

} // namespace qf
