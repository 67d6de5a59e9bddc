// The simulated device: its reading of the station's bytes, its readings,
// and the program itself against the station's real serial stack.

#include "acquisition/frameparser.h"
#include "acquisition/linkcontrol.h"
#include "acquisition/linkresume.h"
#include "acquisition/qtserialcomm.h"
#include "framesource.h"
#include "pollreader.h"
#include "support/fakes.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace qf;

class TestDevsim : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Bursts arriving in pieces, a relay letter between them, a broken burst
    // (told as other bytes) and the start of a burst left waiting.
    void pollReader()
    {
        PollReader reader;
        QByteArray seen; // for each piece, "*" per burst, then the other bytes
        for (const char *piece : {"b", "cd", "ea", "bcde", "bcdx", "bc"}) {
            const auto result = reader.feed(piece);
            seen += QByteArray(result.bursts, '*') + result.other;
        }
        QCOMPARE(seen + '|' + reader.pending(), "*a*bcdx|bc");
    }

    // Three temperatures between 20 and 30 that drift, never jump, over
    // thousands of frames; a small vibration value.
    void readingsLookReal()
    {
        FrameSource source(7);
        const QRegularExpression shape(QStringLiteral(R"(^N(\d\d\.\d),(\d\d\.\d),(\d\d\.\d),0\.\d\d,$)"));
        std::array<double, 3> last{};
        for (int i = 0; i < 5000; ++i) {
            const QByteArray frame = source.next();
            const auto match = shape.match(QString::fromLatin1(frame));
            QVERIFY2(match.hasMatch(), frame.constData());
            for (int k = 0; k < 3; ++k) {
                const double t = match.captured(k + 1).toDouble();
                QVERIFY2(t >= 20.0 && t <= 30.0 && (i == 0 || std::abs(t - last[k]) < 1.0),
                         frame.constData());
                last[k] = t;
            }
        }
    }

    // The station on port 4 through two blinks (SIGUSR1: the device
    // vanishes and returns under the same name with a new frame; the station
    // opens it again by itself and logs on; that a loss never pieces a
    // record together is tst_qtserialcomm's), then STOP and START
    // (the device waits and carries on) and a relay letter between poll
    // bursts (told); SIGTERM ends it cleanly, its link removed.
    void servesTheStationThroughStopsAndBlinks()
    {
        QTemporaryDir dir;
        QByteArray said; // outlives sim, whose destructor may still read its stderr
        QProcess sim;
        connect(&sim, &QProcess::readyReadStandardError, this, [&] { said += sim.readAllStandardError(); });
        sim.start(qEnvironmentVariable("QF_BIN_DIR") + "/quillfern-devsim",
                  {"--dir", dir.path(), "--port", "4", "--interval", "0", "--outage", "300", "--seed", "3"});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(dir.filePath("COM4")).isSymLink(), 5000);

        QtSerialComm comm(dir.path());
        FakeMessageBoxes boxes;
        LinkControl link(comm, boxes);
        FrameParser parser(comm);
        LinkResume resume(comm, parser, link, boxes, [](const QString &) {});
        int frames = 0;
        parser.setCommit([&] { ++frames; });
        connect(&comm, &SerialComm::OnComm, this, [&] { parser.onReceive(); });
        link.selectPort(4);
        link.start();
        for (int blink = 1; blink <= 2; ++blink) {
            const int before = frames;
            QTRY_VERIFY_WITH_TIMEOUT(frames >= before + 2, 5000);
            ::kill(pid_t(sim.processId()), SIGUSR1);
            QTRY_COMPARE_WITH_TIMEOUT(said.count("device back"), blink, 5000);
            QTRY_VERIFY_WITH_TIMEOUT(comm.PortOpen(), 5000);
        }
        const int resumed = frames;
        QTRY_VERIFY_WITH_TIMEOUT(frames >= resumed + 2, 5000);
        link.stop();
        QTRY_VERIFY_WITH_TIMEOUT(said.contains("station closed the port"), 5000);
        const int stopped = frames;
        link.start();
        QTRY_VERIFY_WITH_TIMEOUT(frames >= stopped + 3, 5000);
        QVERIFY2(said.contains("frame 4: N"), said.constData());
        comm.Output("e");
        QTRY_VERIFY_WITH_TIMEOUT(said.contains("received \"e\" (0x65)\n"), 5000);
        QCOMPARE(said.count("station opened the port"), 4);

        ::kill(pid_t(sim.processId()), SIGTERM);
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(std::pair(sim.exitStatus(), sim.exitCode()), std::pair(QProcess::NormalExit, 0));
        QVERIFY(!QFileInfo(dir.filePath("COM4")).isSymLink());
    }
};

QTEST_GUILESS_MAIN(TestDevsim)
#include "tst_devsim.moc"
