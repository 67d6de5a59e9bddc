// The simulated device: its reading of the station's bytes, its readings,
// and the program itself against the station's real serial stack.

#include "acquisition/frameparser.h"
#include "acquisition/qtserialcomm.h"
#include "framesource.h"
#include "pollreader.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

class TestDevsim : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void pollReader_data();
    void pollReader();
    void readingsLookReal();
    void servesTheStationAcrossStopAndStart();
    void removesItsLinkOnTerm();

private:
    QString program() const
    {
        return qEnvironmentVariable("QF_BIN_DIR") + QStringLiteral("/quillfern-devsim");
    }
};

void TestDevsim::pollReader_data()
{
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<int>("bursts");
    QTest::addColumn<QByteArray>("other");
    QTest::addColumn<QByteArray>("pending");

    QTest::newRow("one burst") << QByteArrayList{"bcde"} << 1 << QByteArray() << QByteArray();
    QTest::newRow("burst in pieces") << QByteArrayList{"b", "cd", "e"} << 1 << QByteArray() << QByteArray();
    QTest::newRow("relay a between bursts")
        << QByteArrayList{"bcdeabcde"} << 2 << QByteArray("a") << QByteArray();
    QTest::newRow("relay e before a burst")
        << QByteArrayList{"e", "bcde"} << 1 << QByteArray("e") << QByteArray();
    QTest::newRow("broken burst") << QByteArrayList{"bcdx"} << 0 << QByteArray("bcdx") << QByteArray();
    QTest::newRow("start of a burst waits")
        << QByteArrayList{"bcdebc"} << 1 << QByteArray() << QByteArray("bc");
}

void TestDevsim::pollReader()
{
    QFETCH(QByteArrayList, pieces);
    PollReader reader;
    int bursts = 0;
    QByteArray other;
    for (const QByteArray &piece : pieces) {
        const auto result = reader.feed(piece);
        bursts += result.bursts;
        other += result.other;
    }
    QTEST(bursts, "bursts");
    QTEST(other, "other");
    QTEST(reader.pending(), "pending");
}

void TestDevsim::readingsLookReal()
{
    FrameSource source(7);
    const QRegularExpression shape(QStringLiteral(R"(^N(\d\d\.\d),(\d\d\.\d),(\d\d\.\d),(\d\.\d\d),$)"));
    std::array<double, 3> last{};
    for (int i = 0; i < 5000; ++i) {
        const QByteArray frame = source.next();
        const auto match = shape.match(QString::fromLatin1(frame));
        QVERIFY2(match.hasMatch(), frame.constData());
        for (int k = 0; k < 3; ++k) {
            const double t = match.captured(k + 1).toDouble();
            QVERIFY2(t >= 20.0 && t <= 30.0, frame.constData());
            if (i > 0)
                QVERIFY2(std::abs(t - last[k]) < 1.0, frame.constData()); // drifts, does not jump
            last[k] = t;
        }
        QVERIFY(match.captured(4).toDouble() < 1.0);
    }
}

void TestDevsim::servesTheStationAcrossStopAndStart()
{
    QTemporaryDir dir;
    QProcess sim;
    QByteArray said;
    connect(&sim, &QProcess::readyReadStandardError, this, [&] { said += sim.readAllStandardError(); });
    sim.start(program(),
              {"--dir", dir.path(), "--port", "4", "--interval", "0", "--frames", "6", "--seed", "3"});
    QVERIFY(sim.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(dir.filePath("COM4")).isSymLink(), 5000);

    QtSerialComm comm(dir.path());
    FrameParser parser(comm);
    QList<std::array<QString, 4>> frames;
    parser.setCommit([&] { frames.append(parser.label1Captions()); });
    connect(&comm, &SerialComm::OnComm, this, [&] { parser.MSComm1_OnComm(); });
    comm.setCommPort(4);
    comm.setInputLen(1);
    comm.setPortOpen(true);
    QTRY_VERIFY_WITH_TIMEOUT(frames.size() >= 2, 5000);

    comm.setPortOpen(false); // STOP, START: the device waits and carries on
    QTRY_VERIFY_WITH_TIMEOUT(said.contains("station closed the port"), 5000);
    comm.setPortOpen(true);
    // The station keeps answering while the device finishes its frames.
    QTRY_COMPARE_WITH_TIMEOUT(sim.state(), QProcess::NotRunning, 10000);
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY2(said.contains("frame 6: N"), said.constData());
    QVERIFY(frames.size() >= 5); // the frame cut by STOP may be lost
    for (const auto &frame : frames)
        for (const QString &value : frame)
            QVERIFY2(value.startsWith("  ") && value.size() >= 5, qPrintable(value));
    QVERIFY(!QFileInfo(dir.filePath("COM4")).isSymLink());
}

void TestDevsim::removesItsLinkOnTerm()
{
    QTemporaryDir dir;
    QProcess sim;
    sim.start(program(), {"--dir", dir.path()});
    QVERIFY(sim.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(dir.filePath("COM1")).isSymLink(), 5000);
    ::kill(pid_t(sim.processId()), SIGTERM);
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(dir.filePath("COM1")).isSymLink());
}

QTEST_GUILESS_MAIN(TestDevsim)
#include "tst_devsim.moc"
