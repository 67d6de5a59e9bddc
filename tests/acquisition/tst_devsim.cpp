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

namespace {
void row(const char *name, const char *pieces, int bursts, const char *other, const char *pending)
{
    QTest::newRow(name) << QByteArray(pieces) << bursts << QByteArray(other) << QByteArray(pending);
}
} // namespace

class TestDevsim : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void pollReader_data();
    void pollReader();
    void readingsLookReal();
    void servesTheStationAcrossStopAndStart();
};

void TestDevsim::pollReader_data()
{
    QTest::addColumn<QByteArray>("pieces"); // "|" between pieces as they arrive
    QTest::addColumn<int>("bursts");
    QTest::addColumn<QByteArray>("other");
    QTest::addColumn<QByteArray>("pending");
    row("one burst", "bcde", 1, "", "");
    row("burst in pieces", "b|cd|e", 1, "", "");
    row("relay a between bursts", "bcdeabcde", 2, "a", "");
    row("relay e before a burst", "e|bcde", 1, "e", "");
    row("broken burst", "bcdx", 0, "bcdx", "");
    row("start of a burst waits", "bcdebc", 1, "", "bc");
}

void TestDevsim::pollReader()
{
    QFETCH(QByteArray, pieces);
    PollReader reader;
    int bursts = 0;
    QByteArray other;
    for (const QByteArray &piece : pieces.split('|')) {
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
            QVERIFY2(i == 0 || std::abs(t - last[k]) < 1.0, frame.constData()); // drifts, does not jump
            last[k] = t;
        }
        QVERIFY(match.captured(4).toDouble() < 1.0);
    }
}

void TestDevsim::servesTheStationAcrossStopAndStart()
{
    QTemporaryDir dir;
    QByteArray said; // outlives sim, whose destructor may still read its stderr
    QProcess sim;
    connect(&sim, &QProcess::readyReadStandardError, this, [&] { said += sim.readAllStandardError(); });
    sim.start(qEnvironmentVariable("QF_BIN_DIR") + "/quillfern-devsim",
              {"--dir", dir.path(), "--port", "4", "--interval", "0", "--seed", "3"});
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
    const qsizetype stopped = frames.size();
    comm.setPortOpen(true);
    QTRY_VERIFY_WITH_TIMEOUT(frames.size() >= stopped + 3, 5000);
    for (const auto &frame : frames)
        for (const QString &value : frame)
            QVERIFY2(value.startsWith("  ") && value.size() >= 5, qPrintable(value));
    QVERIFY2(said.contains("frame 4: N"), said.constData());

    ::kill(pid_t(sim.processId()), SIGTERM); // leaves cleanly, its link removed
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(dir.filePath("COM4")).isSymLink());
}

QTEST_GUILESS_MAIN(TestDevsim)
#include "tst_devsim.moc"
