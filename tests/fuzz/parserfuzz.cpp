#include "parserfuzz.h"

#include "acquisition/frameparser.h"
#include "support/fakeserialcomm.h"

namespace {
constexpr std::uint8_t Deliver = 0xFD, Escape = 0xFE;

struct Snapshot {
    int frameStarted, fieldIndex, pollIndex, pollChannel;
    QString text2, text3;
    std::array<QString, 4> labels;
    bool operator==(const Snapshot &) const = default;
};

// Runs the handler directly for each scripted event over the in-memory
// component (no event loop runs, so the component's own events never come).
struct Run {
    FakeSerialComm m_comm;
    FrameParser m_parser{m_comm};
    QByteArray m_waiting; // what the component holds, as the script delivered it
    bool m_committed = false;
    int m_receiveEvents = 0;
    QString error; // the first invariant broken

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
            return check(false, qPrintable("the handler raised: " + e.error().description));
        }
        const Snapshot s = snapshot();
        const qsizetype reads = m_comm.log().count(QStringLiteral("Input?"));
        const qsizetype taken = m_waiting.size() - m_comm.waiting();
        const QString read = QString::fromLatin1(m_waiting.left(taken));
        m_waiting.remove(0, taken);
        if (code != SerialComm::ComEvReceive) {
            check(s == before && m_comm.sent().isEmpty() && reads == 0, "another event was not ignored");
        } else {
            ++m_receiveEvents;
            check(m_comm.sent() == "bcde", "the poll burst is not bcde");
            check(reads == 1, "not one read in a receive event");
            check(m_committed || s.text3 == read, "Text3 is not the text read");
        }
        // The state between events.
        check(s.frameStarted == 0 || s.frameStarted == 1, "frameStarted out of range");
        check(s.fieldIndex >= 0 && s.fieldIndex <= 3, "fieldIndex out of range");
        const int poll = m_receiveEvents > 0 ? 4 : 0;
        check(s.pollIndex == poll && s.pollChannel == poll, "poll counters");
        check(s.frameStarted == 1 || (s.fieldIndex == 0 && s.text2.isEmpty()), "field state outside a frame");
        for (const QString &label : s.labels)
            check(label.isEmpty() || label.startsWith(u"  "), "a label without its two blanks");
    }

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
        check(!m_committed, "two commits in one event");
        m_committed = true;
        check(m_comm.sent().isEmpty(), "commit after the poll burst");
        check(s.frameStarted == 0 && s.fieldIndex == 0 && s.text2.isEmpty() && s.text3.isEmpty(),
              "commit before the reset");
    }

    void check(bool held, const char *what)
    {
        if (!held && error.isEmpty())
            error = QString::fromUtf8(what);
    }
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
