#include "support/fakeserialcomm.h"

#include "acquisition/linesettings.h"
#include "acquisition/portnumber.h"

namespace qf {

namespace {
void throwIfSet(std::optional<Error> &failure)
{
    if (failure)
        throw StationError(*std::exchange(failure, std::nullopt));
}
} // namespace

void FakeSerialComm::record(const QString &operation) const
{
    if (m_recording)
        m_log.append(operation);
}

void FakeSerialComm::throwIfClosed() const
{
    if (!m_open)
        throw StationError(ErrorCode::PortNotOpen, QStringLiteral("COM%1: port is not open").arg(m_commPort));
}

void FakeSerialComm::clearLog()
{
    m_log.clear();
    m_sent.clear();
}

void FakeSerialComm::setCommPort(int port)
{
    record(QStringLiteral("CommPort=%1").arg(port));
    checkCommPort(port);
    m_commPort = port;
}

void FakeSerialComm::setSettings(const QString &settings)
{
    record(QStringLiteral("Settings=") + settings);
    LineSettings::parseOrThrow(settings);
}

void FakeSerialComm::setInputLen(int length)
{
    record(QStringLiteral("InputLen=%1").arg(length));
    m_inputLen = length;
}

void FakeSerialComm::setPortOpen(bool open)
{
    record(QStringLiteral("PortOpen=") + (open ? "True" : "False"));
    if (!open && !m_open)
        return;
    if (open)
        m_open = false; // a second open closes and reopens; a failed open leaves the port closed
    throwIfSet(open ? m_failOpen : m_failClose);
    m_open = open;
    m_openCount += open ? 1 : 0;
    m_rx.clear();
}

QString FakeSerialComm::Input()
{
    record(QStringLiteral("Input?"));
    throwIfClosed();
    const qsizetype n = m_inputLen == 0 ? m_rx.size() : std::min<qsizetype>(m_inputLen, m_rx.size());
    const QByteArray chunk = m_rx.left(n);
    m_rx.remove(0, n);
    m_receiveEvents.noteRead();
    return QString::fromLatin1(chunk);
}

void FakeSerialComm::Output(const QString &text)
{
    record(QStringLiteral("Output=") + text);
    throwIfClosed();
    throwIfSet(m_failOutput);
    m_sent += text.toLatin1();
}

void FakeSerialComm::receive(const QByteArray &bytes)
{
    if (!m_open || bytes.isEmpty())
        return;
    m_rx += bytes;
    m_receiveEvents.schedule();
}

void FakeSerialComm::raiseEvent(EventCode code)
{
    m_commEvent = code;
    Q_EMIT OnComm();
}

void FakeSerialComm::loseDevice(const Error &error)
{
    if (!m_open)
        return;
    m_open = false;
    m_rx.clear();
    Q_EMIT deviceLost(error);
}

} // namespace qf
