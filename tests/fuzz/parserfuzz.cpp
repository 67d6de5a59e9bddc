#include "parserfuzz.h"

#include "acquisition/fakeserialcomm.h"
#include "acquisition/frameparser.h"

namespace {
constexpr std::uint8_t Deliver = 0xFD;
constexpr std::uint8_t Escape = 0xFE;

struct Snapshot {
    int frameStarted, fieldIndex, pollIndex, pollChannel;
    QString text2, text3;
    std::array<QString, 4> labels;
    bool operator==(const Snapshot &) const = default;
};

// Runs the handler directly for each scripted event over the in-memory
// component (no event loop runs, so the component's own events never come).
class Run {
public:
    QString error;

    explicit Run(int inputLen)
    {
        m_comm.setInputLen(inputLen);
        m_comm.setPortOpen(true);
        m_parser.setCommit([this] { onCommit(); });
    }

    void arrive(char c)
    {
        m_comm.receive(QByteArray(1, c));
        m_waiting.append(c);
    }

    void deliverAll()
    {
        while (error.isEmpty() && m_comm.waiting() > 0)
            event(SerialComm::ComEvReceive);
    }

    void event(int code)
    {
        const Snapshot before = snapshot();
        m_comm.clearLog();
        m_committed = false;
        m_comm.raiseEvent(code); // sets the event code; nothing is connected
        try {
            m_parser.MSComm1_OnComm();
        } catch (const StationError &e) {
            return fail(
                QStringLiteral("handler raised %1 %2").arg(e.error().number).arg(e.error().description));
        }
        const Snapshot after = snapshot();
        const qsizetype reads = m_comm.log().count(QStringLiteral("Input?"));
        const qsizetype taken = m_waiting.size() - m_comm.waiting();
        const QString read = QString::fromLatin1(m_waiting.left(taken));
        m_waiting.remove(0, taken);
        if (code != SerialComm::ComEvReceive) {
            if (!(after == before) || !m_comm.sent().isEmpty() || reads != 0)
                return fail(QStringLiteral("event %1 was not ignored").arg(code));
        } else {
            ++m_receiveEvents;
            if (m_comm.sent() != "bcde")
                return fail(QStringLiteral("poll burst was \"%1\"").arg(QString::fromLatin1(m_comm.sent())));
            if (reads != 1)
                return fail(QStringLiteral("%1 reads in one event").arg(reads));
            if (!m_committed && after.text3 != read)
                return fail(QStringLiteral("Text3 is not the text read"));
        }
        checkRanges(after);
    }

private:
    Snapshot snapshot()
    {
        FrameParser &p = m_parser;
        return {p.frameStarted(), p.fieldIndex(),   p.pollIndex(),     p.pollChannel(),
                p.Text2().text(), p.Text3().text(), p.label1Captions()};
    }

    // The commit comes after the parser's reset and before the poll burst.
    void onCommit()
    {
        const Snapshot s = snapshot();
        if (m_committed)
            fail(QStringLiteral("two commits in one event"));
        m_committed = true;
        if (!m_comm.sent().isEmpty())
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

    FakeSerialComm m_comm;
    FrameParser m_parser{m_comm};
    QByteArray m_waiting; // what the component holds, as the script delivered it
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
