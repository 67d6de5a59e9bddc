#pragma once

#include "acquisition/serialcomm.h"
#include "common/int16.h"
#include "common/messageboxes.h"
#include "common/value.h"

namespace qf {

// Opens and closes the serial link: the port selector, START, STOP and the
// window's unload.
class LinkControl {
public:
    LinkControl(SerialComm &comm, MessageBoxes &boxes);

    // The selector's range.
    static constexpr int SelectorMin = 1;
    static constexpr int SelectorMax = 12;

    // The port selector's value (the COM port START opens); selecting a new
    // port shows its number, selecting the port chosen already does nothing.
    int selectedPort() const { return m_selectedPort; }
    void selectPort(int value);

    // START: opens the selected port with the station's line settings; a
    // port that cannot be opened is shown in a warning box.
    void start();
    // STOP: closes the link.
    void stop();
    // The window is closing: closes the link if it is open.
    void closeIfOpen();

    // Whether START was pressed last (STOP not since): the Started state.
    bool started() const { return !m_startEnabled.isOn(); }

    FlagValue &startEnabled() { return m_startEnabled; }
    FlagValue &stopEnabled() { return m_stopEnabled; }
    FlagValue &selectorEnabled() { return m_selectorEnabled; }
    // The selected port's number as text.
    TextValue &portText() { return m_portText; }

private:
    void showSelectedPort();

    SerialComm &m_comm;
    MessageBoxes &m_boxes;

    Int16 m_selectedPort = 0;
    FlagValue m_startEnabled{true};
    FlagValue m_stopEnabled{true};
    FlagValue m_selectorEnabled{true};
    TextValue m_portText;
};

} // namespace qf
