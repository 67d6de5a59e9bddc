// The receive handler over byte streams, driven through the in-memory serial
// component as the event loop delivers its receive events. Event codes other
// than receive, empty reads, the poll counters and the state at a commit are
// checked by the fuzz target's invariants (tests/fuzz).

#include "acquisition/frameparser.h"
#include "support/fakeserialcomm.h"

#include <QSignalSpy>
#include <QTest>

namespace {
// Labels are one text, "|" between the four; a commit is recorded as the
// labels, "@" and the number of poll bursts already sent.
struct Station {
    FakeSerialComm comm;
    FrameParser parser{comm};
    QByteArrayList commits;
    QSignalSpy events{&comm, &SerialComm::OnComm};

    explicit Station(int inputLen)
    {
        QObject::connect(&comm, &SerialComm::OnComm, [this] { parser.MSComm1_OnComm(); });
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
    // Text2, Text3, frameStarted and fieldIndex, "|" between them.
    QString state()
    {
        const QString flags = QStringLiteral("%1|%2").arg(parser.frameStarted()).arg(parser.fieldIndex());
        return parser.Text2().text() + '|' + parser.Text3().text() + '|' + flags;
    }
};

void row(const char *name, const QByteArray &stream, const QByteArray &labels, const QByteArray &commits,
         const char *state = "||0|0")
{
    QTest::newRow(name) << stream << labels << commits << QString(state);
}
} // namespace

class TestFrameParser : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void streams_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QByteArray>("labels");
        QTest::addColumn<QByteArray>("commits"); // ";" between commits
        QTest::addColumn<QString>("state");      // after the stream

        const QByteArray oneToFour = "  1|  2|  3|  4";
        row("one frame", "N1,2,3,4,", oneToFour, oneToFour + "@8");
        row("empty field", "N,5,6,7,", "  |  5|  6|  7", "  |  5|  6|  7@7");
        row("lower-case n starts nothing", "n1,2,3,4,", "|||", "", "|,|0|0");
        row("N inside a field", "N12N,3,4,5,", "  12N|  3|  4|  5", "  12N|  3|  4|  5@10");
        row("text before the frame", "xyz,N1,2,3,4,", oneToFour, oneToFour + "@12");
        row("comma that ends a frame starts none", "N1,2,3,4,1,", oneToFour, oneToFour + "@8", "|,|0|0");
        row("N after a frame", "N1,2,3,4,N9,8", "  9|  2|  3|  4", oneToFour + "@8", "8|8|1|1");
        row("cut frame", "N7,8.5", "  7|||", "", "8.5|5|1|1");
        row("no character is special", "N 1,2\r\n,\t,x y,", "   1|  2\r\n|  \t|  x y",
            "   1|  2\r\n|  \t|  x y@13");
        const QByteArray high("  \xb0|  \0|  \xff|  \x80", 15);
        row("high and zero bytes", QByteArray("N\xb0,\0,\xff,\x80,", 9), high, high + "@8");
    }

    void streams()
    {
        QFETCH(QByteArray, stream);
        Station s(1);
        s.feed(stream);

        QCOMPARE(s.events.count(), stream.size()); // one receive event, one burst per character
        QCOMPARE(s.comm.sent(), QByteArray("bcde").repeated(stream.size()));
        QTEST(s.labels(), "labels");
        QTEST(s.commits.join(';'), "commits");
        QTEST(s.state(), "state");
    }

    void longerReadIsAllFieldText()
    {
        Station s(0); // a read takes all that waits
        s.feed("N");
        s.feed("1,2");
        QCOMPARE(s.state(), "1,2|1,2|1|0"); // commas inside one read end no field
    }
};

QTEST_GUILESS_MAIN(TestFrameParser)
#include "tst_frameparser.moc"
