#include "parserfuzz.h"

#include "acquisition/frameparser.h"

#include <QByteArray>

namespace {
constexpr std::uint8_t Deliver = 0xFD;
constexpr std::uint8_t Escape = 0xFE;

// A serial component that does exactly what the script says, at once.
class ScriptedComm : public SerialComm {
public:
    QByteArray waiting;
    QByteArray sent;
    int inputLen = 1;
    int code = 0;
    int reads = 0;

    void setCommPort(int) override {}
    int CommPort() const override { return 1; }
    void setSettings(const QString &) override {}
    QString Settings() const override { return QStringLiteral("9600,N,8,1"); }
    void setInputLen(int length) override { inputLen = length; }
    int InputLen() const override { return inputLen; }
    bool PortOpen() const override { return true; }
    void setPortOpen(bool) override {}
    int CommEvent() const override { return code; }
    QString Input() override
    {
        ++reads;
        const qsizetype n = inputLen == 0 ? waiting.size() : std::min<qsizetype>(inputLen, waiting.size());
        const QByteArray chunk = waiting.left(n);
        waiting.remove(0, n);
        return QString::fromLatin1(chunk);
    }
    void Output(const QString &text) override { sent += text.toLatin1(); }
};

struct Snapshot {
    int frameStarted, fieldIndex, pollIndex, pollChannel;
    QString text2, text3;
    std::array<QString, 4> labels;
    bool operator==(const Snapshot &) const = default;
};

Snapshot snapshot(FrameParser &p)
{
    return {p.frameStarted(), p.fieldIndex(),   p.pollIndex(),     p.pollChannel(),
            p.Text2().text(), p.Text3().text(), p.label1Captions()};
}

class Run {
public:
    QString error;

    explicit Run(int inputLen)
    {
        m_comm.inputLen = inputLen;
        m_parser.setCommit([this] { onCommit(); });
    }

    void arrive(char c) { m_comm.waiting.append(c); }

    void deliverAll()
    {
        while (error.isEmpty() && !m_comm.waiting.isEmpty())
            event(SerialComm::ComEvReceive);
    }

    void event(int code)
    {
        const Snapshot before = snapshot(m_parser);
        const QByteArray waitingBefore = m_comm.waiting;
        m_comm.code = code;
        m_comm.sent.clear();
        m_comm.reads = 0;
        m_committed = false;
        try {
            m_parser.MSComm1_OnComm();
        } catch (const StationError &e) {
            return fail(
                QStringLiteral("handler raised %1 %2").arg(e.error().number).arg(e.error().description));
        }
        const Snapshot after = snapshot(m_parser);
        if (code != SerialComm::ComEvReceive) {
            if (!(after == before) || !m_comm.sent.isEmpty() || m_comm.reads != 0 ||
                m_comm.waiting != waitingBefore)
                return fail(QStringLiteral("event %1 was not ignored").arg(code));
        } else {
            ++m_receiveEvents;
            if (m_comm.sent != "bcde")
                return fail(QStringLiteral("poll burst was \"%1\"").arg(QString::fromLatin1(m_comm.sent)));
            if (m_comm.reads != 1)
                return fail(QStringLiteral("%1 reads in one event").arg(m_comm.reads));
            const qsizetype taken = waitingBefore.size() - m_comm.waiting.size();
            const QString read = QString::fromLatin1(waitingBefore.left(taken));
            if (!m_committed && after.text3 != read)
                return fail(QStringLiteral("Text3 is not the text read"));
        }
        checkRanges(after);
    }

private:
    void onCommit()
    {
        const Snapshot s = snapshot(m_parser);
        if (m_committed)
            fail(QStringLiteral("two commits in one event"));
        m_committed = true;
        if (!m_comm.sent.isEmpty())
            fail(QStringLiteral("commit after the poll burst"));
        if (s.frameStarted != 0 || s.fieldIndex != 0 || !s.text2.isEmpty() || !s.text3.isEmpty())
            fail(QStringLiteral("commit before the reset"));
    }

    void checkRanges(const Snapshot &s)
    {
        if (s.frameStarted != 0 && s.frameStarted != 1)
            return fail(QStringLiteral("frameStarted %1").arg(s.frameStarted));
        if (s.fieldIndex < 0 || s.fieldIndex > 3)
            return fail(QStringLiteral("fieldIndex %1 between events").arg(s.fieldIndex));
        const int poll = m_receiveEvents > 0 ? 4 : 0;
        if (s.pollIndex != poll || s.pollChannel != poll)
            return fail(QStringLiteral("pollIndex %1, pollChannel %2").arg(s.pollIndex).arg(s.pollChannel));
        if (s.frameStarted == 0 && (s.fieldIndex != 0 || !s.text2.isEmpty()))
            return fail(QStringLiteral("field state outside a frame"));
        for (const QString &label : s.labels)
            if (!label.isEmpty() && !label.startsWith(QStringLiteral("  ")))
                return fail(QStringLiteral("label \"%1\"").arg(label));
    }

    void fail(const QString &what)
    {
        if (error.isEmpty())
            error = what;
    }

    ScriptedComm m_comm;
    FrameParser m_parser{m_comm};
    bool m_committed = false;
    int m_receiveEvents = 0;
};
} // namespace

QString fuzzParser(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return {};
    Run run(data[0] % 4);
    for (std::size_t i = 1; i < size && run.error.isEmpty(); ++i) {
        const std::uint8_t b = data[i];
        if (b == Deliver) {
            run.deliverAll();
        } else if (b == Escape && i + 1 < size) {
            const std::uint8_t x = data[++i];
            if (x == Deliver || x == Escape)
                run.arrive(char(x));
            else
                run.event(x % 8);
        } else {
            run.arrive(char(b));
        }
    }
    run.deliverAll();
    return run.error;
}
