#include "parserfuzz.h"

namespace qf {

namespace {
constexpr char Deliver = char(0xFD), Escape = char(0xFE);
constexpr int BurstLength = 4;
} // namespace

ParserRun::ParserRun(QByteArrayView script)
{
    m_comm.setInputLen(script.isEmpty() ? 0 : std::uint8_t(script.front()) % 4);
    m_comm.setPortOpen(true);
    m_parser.setCommit([this] {
        check(state() == "||0|0", "commit before the reset");
        m_commits << labels() + '@' + QByteArray::number(m_bursts);
    });
    for (qsizetype i = 1; i < script.size() && m_error.isEmpty(); ++i) {
        const char c = script[i];
        if (c == Deliver) {
            deliverAll();
        } else if (c == Escape && i + 1 < script.size()) {
            const char x = script[++i];
            if (x == Deliver || x == Escape)
                m_comm.receive(QByteArray(1, x));
            else
                event(SerialComm::EventCode(std::uint8_t(x) % 8));
        } else {
            m_comm.receive(QByteArray(1, c));
        }
    }
    deliverAll();
}

void ParserRun::deliverAll()
{
    while (m_error.isEmpty() && m_comm.waiting() > 0)
        event(SerialComm::EventCode::Receive);
}

void ParserRun::event(SerialComm::EventCode code)
{
    const QString before = state() + labels();
    m_comm.clearLog();
    m_comm.raiseEvent(code); // sets the event code; nothing is connected
    try {
        m_parser.onReceive();
    } catch (const StationError &e) {
        return check(false, qPrintable("the handler raised: " + e.error().description));
    }
    const qsizetype reads = m_comm.log().count(QStringLiteral("Input?"));
    if (code != SerialComm::EventCode::Receive)
        return check(state() + labels() == before && m_comm.sent().isEmpty() && reads == 0,
                     "another event was not ignored");
    check(reads == 1 && m_comm.sent() == "bcde", "not one read and one poll burst bcde");
    m_bursts += int(m_comm.sent().size() / BurstLength);
    check(m_parser.pollIndex() == BurstLength && m_parser.pollChannel() == BurstLength, "poll counters");
}

QByteArray ParserRun::labels() const
{
    const auto l = m_parser.sensorValues();
    return QStringList(l.begin(), l.end()).join(u'|').toLatin1();
}

QString ParserRun::state()
{
    const QString flags = QStringLiteral("%1|%2").arg(m_parser.frameStarted()).arg(m_parser.fieldIndex());
    return m_parser.fieldText().text() + '|' + m_parser.lastCharacter().text() + '|' + flags;
}

void ParserRun::check(bool held, const char *what)
{
    if (!held && m_error.isEmpty())
        m_error = QString::fromUtf8(what);
}

} // namespace qf
