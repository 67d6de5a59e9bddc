// The receive handler over byte streams, driven through the in-memory serial
// component as the event loop delivers its receive events.

#include "acquisition/fakeserialcomm.h"
#include "acquisition/frameparser.h"

#include <QTest>

namespace {
using Captions = std::array<QString, 4>;

struct Station {
    FakeSerialComm comm;
    FrameParser parser{comm};
    QList<Captions> committed;
    int events = 0;

    explicit Station(int inputLen = 1)
    {
        QObject::connect(&comm, &SerialComm::OnComm, [this] {
            ++events;
            parser.MSComm1_OnComm();
        });
        parser.setCommit([this] { committed.append(parser.label1Captions()); });
        comm.setInputLen(inputLen);
        comm.setPortOpen(true);
        comm.clearLog();
    }

    // Feeds the bytes as they would arrive and lets the event loop deliver
    // every receive event they raise.
    void feed(const QByteArray &bytes)
    {
        comm.receive(bytes);
        QDeadlineTimer deadline(5000);
        while (comm.waiting() > 0 && !deadline.hasExpired())
            QCoreApplication::processEvents();
        QCoreApplication::processEvents(); // the event of the last character may still be queued
    }

    Captions labels() const { return parser.label1Captions(); }
};

QString two(const char *text)
{
    return QStringLiteral("  ") + QString::fromLatin1(text);
}
} // namespace

class TestFrameParser : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void streams_data();
    void streams();
    void commitRunsAfterResetAndBeforeTheBurst();
    void otherEventCodesDoNothing_data();
    void otherEventCodesDoNothing();
    void emptyReadStillPolls();
    void longerChunks_data();
    void longerChunks();
    void pollChannelBeforeAndAfterTheFirstEvent();
    void stateSurvivesAClosedPort();
};

void TestFrameParser::streams_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<Captions>("labels");
    QTest::addColumn<QList<Captions>>("commits");
    QTest::addColumn<QString>("text2");
    QTest::addColumn<QString>("text3");
    QTest::addColumn<int>("frameStarted");
    QTest::addColumn<int>("fieldIndex");

    const Captions none{};
    const Captions oneToFour{two("1"), two("2"), two("3"), two("4")};
    QTest::newRow("one frame") << QByteArray("N1,2,3,4,") << oneToFour << QList<Captions>{oneToFour}
                               << QString() << QString() << 0 << 0;
    QTest::newRow("real values") << QByteArray("N25.3,26.1,24.8,0.52,")
                                 << Captions{two("25.3"), two("26.1"), two("24.8"), two("0.52")}
                                 << QList<Captions>{{two("25.3"), two("26.1"), two("24.8"), two("0.52")}}
                                 << QString() << QString() << 0 << 0;
    const Captions emptyFirst{two(""), two("5"), two("6"), two("7")};
    QTest::newRow("empty field") << QByteArray("N,5,6,7,") << emptyFirst << QList<Captions>{emptyFirst}
                                 << QString() << QString() << 0 << 0;
    QTest::newRow("lower-case n starts nothing")
        << QByteArray("n1,2,3,4,") << none << QList<Captions>{} << QString() << QStringLiteral(",") << 0 << 0;
    const Captions inner{two("12N"), two("3"), two("4"), two("5")};
    QTest::newRow("N inside a field")
        << QByteArray("N12N,3,4,5,") << inner << QList<Captions>{inner} << QString() << QString() << 0 << 0;
    QTest::newRow("text before the frame") << QByteArray("xyz,N1,2,3,4,") << oneToFour
                                           << QList<Captions>{oneToFour} << QString() << QString() << 0 << 0;
    const Captions second{two("1"), two("N2"), two("3"), two("4")};
    QTest::newRow("second N does not restart")
        << QByteArray("N1,N2,3,4,") << second << QList<Captions>{second} << QString() << QString() << 0 << 0;
    QTest::newRow("comma that ends a frame starts none")
        << QByteArray("N1,2,3,4,1,") << oneToFour << QList<Captions>{oneToFour} << QString()
        << QStringLiteral(",") << 0 << 0;
    QTest::newRow("N right after a frame starts the next")
        << QByteArray("N1,2,3,4,N9,8") << Captions{two("9"), two("2"), two("3"), two("4")}
        << QList<Captions>{oneToFour} << QStringLiteral("8") << QStringLiteral("8") << 1 << 1;
    QTest::newRow("cut frame") << QByteArray("N7,8.5") << Captions{two("7"), {}, {}, {}} << QList<Captions>{}
                               << QStringLiteral("8.5") << QStringLiteral("5") << 1 << 1;
    const Captions blanks{two(" 1"), two("2\r\n"), two("\t"), two("x y")};
    QTest::newRow("no character is special") << QByteArray("N 1,2\r\n,\t,x y,") << blanks
                                             << QList<Captions>{blanks} << QString() << QString() << 0 << 0;
    const Captions latin{two("\xb0"), two("\x00"), two("\xff"), two("\x80")};
    QTest::newRow("high and zero bytes")
        << QByteArray("N\xb0,\x00,\xff,\x80,", 9)
        << Captions{QStringLiteral("  \u00b0"), QStringLiteral("  ") + QChar(0), QStringLiteral("  \u00ff"),
                    QStringLiteral("  \u0080")}
        << QList<Captions>{{QStringLiteral("  \u00b0"), QStringLiteral("  ") + QChar(0),
                            QStringLiteral("  \u00ff"), QStringLiteral("  \u0080")}}
        << QString() << QString() << 0 << 0;
    const Captions third{two("5"), two("6"), two("7"), two("8")};
    QTest::newRow("two frames") << QByteArray("N1,2,3,4,N5,6,7,8,") << third
                                << QList<Captions>{oneToFour, third} << QString() << QString() << 0 << 0;
}

void TestFrameParser::streams()
{
    QFETCH(QByteArray, stream);
    Station s;
    s.feed(stream);

    QCOMPARE(s.events, stream.size());
    QCOMPARE(s.comm.sent(), QByteArray("bcde").repeated(stream.size()));
    QTEST(s.labels(), "labels");
    QTEST(s.committed, "commits");
    QTEST(s.parser.Text2().text(), "text2");
    QTEST(s.parser.Text3().text(), "text3");
    QTEST(s.parser.frameStarted(), "frameStarted");
    QTEST(s.parser.fieldIndex(), "fieldIndex");
    QCOMPARE(s.parser.pollIndex(), 4);
    QCOMPARE(s.parser.pollChannel(), 4);
}

void TestFrameParser::commitRunsAfterResetAndBeforeTheBurst()
{
    Station s;
    QByteArray sentAtCommit;
    int frameStarted = -1, fieldIndex = -1;
    QString text2 = QStringLiteral("?"), text3 = QStringLiteral("?");
    s.parser.setCommit([&] {
        sentAtCommit = s.comm.sent();
        frameStarted = s.parser.frameStarted();
        fieldIndex = s.parser.fieldIndex();
        text2 = s.parser.Text2().text();
        text3 = s.parser.Text3().text();
    });
    s.feed("N1,2,3,4,");
    QCOMPARE(sentAtCommit, QByteArray("bcde").repeated(8)); // the ninth burst follows the commit
    QCOMPARE(frameStarted, 0);
    QCOMPARE(fieldIndex, 0);
    QCOMPARE(text2, QString());
    QCOMPARE(text3, QString());
}

void TestFrameParser::otherEventCodesDoNothing_data()
{
    QTest::addColumn<int>("code");
    for (int code : {0, 1, 3, 1001, 1010})
        QTest::addRow("code %d", code) << code;
}

void TestFrameParser::otherEventCodesDoNothing()
{
    QFETCH(int, code);
    Station s;
    s.feed("N1");
    s.comm.clearLog();
    s.comm.receive("2"); // waiting, but the event says something else
    s.comm.raiseEvent(code);
    QCOMPARE(s.comm.log(), QStringList{QStringLiteral("CommEvent?")});
    QCOMPARE(s.parser.Text2().text(), QStringLiteral("1"));
    QCOMPARE(s.parser.Text3().text(), QStringLiteral("1"));
}

void TestFrameParser::emptyReadStillPolls()
{
    Station s;
    s.comm.raiseEvent(SerialComm::ComEvReceive);
    QCOMPARE(s.comm.log(),
             (QStringList{"CommEvent?", "Input?", "Output=b", "Output=c", "Output=d", "Output=e"}));
    QCOMPARE(s.parser.Text3().text(), QString());
    QCOMPARE(s.parser.frameStarted(), 0);

    s.feed("N");
    s.comm.raiseEvent(SerialComm::ComEvReceive);
    QCOMPARE(s.parser.Text2().text(), QString());
    QCOMPARE(s.parser.frameStarted(), 1); // an empty read neither starts nor ends a frame
}

void TestFrameParser::longerChunks_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<QString>("text2");
    QTest::addColumn<int>("frameStarted");

    QTest::newRow("inside a frame, commas included") << QByteArray("N") << QByteArray("1,2") << "1,2" << 1;
    QTest::newRow("outside a frame ignored") << QByteArray() << QByteArray("N1,") << "" << 0;
}

void TestFrameParser::longerChunks()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, chunk);
    Station s(0);
    s.feed(before);
    s.comm.clearLog();
    s.feed(chunk); // one event takes all that waits
    QCOMPARE(s.comm.sent(), QByteArray("bcde"));
    QTEST(s.parser.Text2().text(), "text2");
    QTEST(s.parser.frameStarted(), "frameStarted");
    QCOMPARE(s.parser.fieldIndex(), 0);
}

void TestFrameParser::pollChannelBeforeAndAfterTheFirstEvent()
{
    Station s;
    QCOMPARE(s.parser.pollChannel(), 0);
    QCOMPARE(s.parser.pollIndex(), 0);
    s.feed("x");
    QCOMPARE(s.parser.pollChannel(), 4);
    s.comm.raiseEvent(1);
    QCOMPARE(s.parser.pollChannel(), 4);
}

void TestFrameParser::stateSurvivesAClosedPort()
{
    Station s;
    s.feed("N1,2");
    s.comm.setPortOpen(false);
    s.comm.setPortOpen(true);
    s.feed(",3,4,");
    QCOMPARE(s.committed, (QList<Captions>{{two("1"), two("2"), two("3"), two("4")}}));
}

QTEST_GUILESS_MAIN(TestFrameParser)
#include "tst_frameparser.moc"
