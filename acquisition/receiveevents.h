#pragma once

#include <QObject>

#include <functional>

namespace qf {

// How a serial component raises its receive events: queued on the event
// loop (never from inside the caller), one at a time, and raised again for
// as long as a read during the event leaves characters waiting. Characters
// already buffered bring no new notification of their own, so without the
// second rule some would be stranded; without the read condition a handler
// that does not read would be asked again and again.
class ReceiveEvents {
public:
    // waiting: whether the open port has characters waiting.
    // raise: reports one receive event to the component's listeners.
    ReceiveEvents(QObject &owner, std::function<bool()> waiting, std::function<void()> raise);

    // Characters have arrived: a receive event follows on the event loop.
    void schedule();
    // The component's Input ran during the current event.
    void noteRead() { m_readDuringEvent = true; }

private:
    void deliver();

    QObject &m_owner;
    std::function<bool()> m_waiting;
    std::function<void()> m_raise;
    bool m_pending = false;
    bool m_readDuringEvent = false;
};

} // namespace qf
