#include "acquisition/receiveevents.h"

#include <QMetaObject>

namespace qf {

ReceiveEvents::ReceiveEvents(QObject &owner, std::function<bool()> waiting, std::function<void()> raise)
    : m_owner(owner), m_waiting(std::move(waiting)), m_raise(std::move(raise))
{
}

void ReceiveEvents::schedule()
{
    if (m_pending)
        return;
    m_pending = true;
    QMetaObject::invokeMethod(
        &m_owner, [this] { deliver(); }, Qt::QueuedConnection);
}

void ReceiveEvents::deliver()
{
    m_pending = false;
    if (!m_waiting())
        return;
    m_readDuringEvent = false;
    m_raise();
    if (m_readDuringEvent && m_waiting())
        schedule();
}

} // namespace qf
