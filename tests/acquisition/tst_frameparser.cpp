// The receive handler over byte streams, driven through the in-memory serial
// component as the event loop delivers its receive events. Event codes other
// than receive, empty reads, the poll counters and the state at a commit are
// checked by the fuzz target's invariants (tests/fuzz).

#include "acquisition/fakeserialcomm.h"
#include "acquisition/frameparser.h"

#include <QTest>

namespace {
// Bytes from a literal, embedded zero bytes included.
template <qsizetype N> QByteArray b(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

// Labels are one text, "|" between the four; a commit is recorded as the
// labels, "@" and the number of poll bursts already sent.
struct Station {
    FakeSerialComm comm;
    FrameParser parser{comm};
    QByteArrayList commits;
    int events = 0;

    explicit Station(int inputLen)
    {
        QObject::connect(&comm, &SerialComm::OnComm, [this] {
            ++events;
            parser.MSComm1_OnComm();
        });
        parser.setCommit([this] { commits << labels() + '@' + QByteArray::number(comm.sent().size() / 4); });
        comm.setInputLen(inputLen);
        comm.setPortOpen(true);
    }

    // Lets the event loop deliver every receive event the bytes raise.
    void feed(const QByteArray &bytes)
    {
        comm.receive(bytes);
        const QDeadlineTimer deadline(std::chrono::seconds(5));
        while (comm.waiting() > 0 && !deadline.hasExpired())
            QCoreApplication::processEvents();
    }

    QByteArray labels() const
    {
        const auto l = parser.label1Captions();
        return QStringList(l.begin(), l.end()).join(u'|').toLatin1();
    }
};

void row(const char *name, const QByteArray &stream, const QByteArray &labels, const QByteArray &commits,
         const QString &text2 = {}, const QString &text3 = {}, int frameStarted = 0, int fieldIndex = 0)
{
    QTest::newRow(name) << stream << labels << commits << text2 << text3 << frameStarted << fieldIndex;
}
} // namespace

class TestFrameParser : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void streams_data();
    void streams();
    void longerReadIsAllFieldText();
};

void TestFrameParser::streams_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("labels");
    QTest::addColumn<QByteArray>("commits"); // ";" between commits
    QTest::addColumn<QString>("text2");
    QTest::addColumn<QString>("text3");
    QTest::addColumn<int>("frameStarted");
    QTest::addColumn<int>("fieldIndex");

    const QByteArray oneToFour = b("  1|  2|  3|  4");
    row("one frame", b("N1,2,3,4,"), oneToFour, oneToFour + "@8");
    row("real values", b("N25.3,26.1,24.8,0.52,"), b("  25.3|  26.1|  24.8|  0.52"),
        b("  25.3|  26.1|  24.8|  0.52@20"));
    row("empty field", b("N,5,6,7,"), b("  |  5|  6|  7"), b("  |  5|  6|  7@7"));
    row("lower-case n starts nothing", b("n1,2,3,4,"), b("|||"), b(""), "", ",");
    row("N inside a field", b("N12N,3,4,5,"), b("  12N|  3|  4|  5"), b("  12N|  3|  4|  5@10"));
    row("text before the frame", b("xyz,N1,2,3,4,"), oneToFour, oneToFour + "@12");
    row("comma that ends a frame starts none", b("N1,2,3,4,1,"), oneToFour, oneToFour + "@8", "", ",");
    row("N right after a frame starts the next", b("N1,2,3,4,N9,8"), b("  9|  2|  3|  4"), oneToFour + "@8",
        "8", "8", 1, 1);
    row("cut frame", b("N7,8.5"), b("  7|||"), b(""), "8.5", "5", 1, 1);
    row("no character is special", b("N 1,2\r\n,\t,x y,"), b("   1|  2\r\n|  \t|  x y"),
        b("   1|  2\r\n|  \t|  x y@13"));
    row("high and zero bytes", b("N\xb0,\0,\xff,\x80,"), b("  \xb0|  \0|  \xff|  \x80"),
        b("  \xb0|  \0|  \xff|  \x80@8"));
    row("two frames", b("N1,2,3,4,N5,6,7,8,"), b("  5|  6|  7|  8"), oneToFour + "@8;  5|  6|  7|  8@17");
}

void TestFrameParser::streams()
{
    QFETCH(QByteArray, stream);
    Station s(1);
    s.feed(stream);

    QCOMPARE(s.events, stream.size()); // one receive event, one burst per character
    QCOMPARE(s.comm.sent(), QByteArray("bcde").repeated(stream.size()));
    QTEST(s.labels(), "labels");
    QTEST(s.commits.join(';'), "commits");
    QTEST(s.parser.Text2().text(), "text2");
    QTEST(s.parser.Text3().text(), "text3");
    QTEST(s.parser.frameStarted(), "frameStarted");
    QTEST(s.parser.fieldIndex(), "fieldIndex");
}

void TestFrameParser::longerReadIsAllFieldText()
{
    Station s(0); // a read takes all that waits
    s.feed("N");
    s.feed("1,2");
    QCOMPARE(s.parser.Text2().text(), QStringLiteral("1,2")); // commas inside one read end no field
    QCOMPARE(s.parser.fieldIndex(), 0);
    QCOMPARE(s.comm.sent(), QByteArray("bcde").repeated(2));
}

QTEST_GUILESS_MAIN(TestFrameParser)
#include "tst_frameparser.moc"
