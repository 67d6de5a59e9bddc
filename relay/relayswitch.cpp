#include "relay/relayswitch.h"

#include "acquisition/frameparser.h"

#include <optional>
#include <utility>

namespace qf {

namespace {

// The error state of one run of a relay handler: the last failed step.
class StepErrors {
public:
    // Runs one step; a StationError it raises is recorded and the handler
    // goes on with its next step.
    template <typename Step> void attempt(Step &&step)
    {
        try {
            step();
        } catch (const StationError &e) {
            m_last = e.error();
        }
    }

    const std::optional<Error> &last() const { return m_last; }

private:
    std::optional<Error> m_last;
};

} // namespace

RelaySwitch::RelaySwitch(SerialComm &comm, std::function<int()> pollChannel, MessageBoxes &boxes)
    : m_comm(comm), m_pollChannel(std::move(pollChannel)), m_boxes(boxes)
{
}

void RelaySwitch::switchOn()
{
    switchPort(true);
}

void RelaySwitch::switchOff()
{
    switchPort(false);
}

void RelaySwitch::switchPort(bool open)
{
    StepErrors errors;

    // 1. Open (ON) or close (OFF) unless the port already is so. A failed
    //    read of the port's state goes on with the open or close it guards.
    bool alreadyThere = false;
    errors.attempt([&] { alreadyThere = m_comm.PortOpen() == open; });
    if (!alreadyThere)
        errors.attempt([&] { m_comm.setPortOpen(open); });

    // 2. The operator sees the error of the open or close; the program runs on.
    if (errors.last())
        m_boxes.msgBox(errors.last()->description, MsgStyle::OkOnly | MsgStyle::Exclamation);

    // 3. The relay letter; a write that fails (a closed port) shows nothing.
    try {
        m_comm.Output(channelLetter(m_pollChannel()));
    } catch (const StationError &) {
    }
}

} // namespace qf
