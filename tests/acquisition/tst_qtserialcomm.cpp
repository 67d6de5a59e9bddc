// The serial component over QSerialPort against a pseudo-terminal that the
// test holds: the test plays the device on the master end.

#include "acquisition/frameparser.h"
#include "acquisition/qtserialcomm.h"
#include "portlink.h"
#include "pseudoterminal.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {
// A device on a pseudo-terminal published as COM1 in a fresh application
// directory, and the station's component over it.
struct Bench {
    QTemporaryDir dir;
    PseudoTerminal pty;
    std::unique_ptr<PortLink> link;
    QtSerialComm comm{dir.path()};
    QByteArray fromStation;

    Bench() { link = std::make_unique<PortLink>(dir.path(), 1, pty.slavePath()); }

    void send(const QByteArray &bytes)
    {
        QCOMPARE(::write(pty.masterFd(), bytes.constData(), bytes.size()), bytes.size());
    }

    // Everything the station has written so far.
    const QByteArray &received()
    {
        char buffer[4096];
        ssize_t n = 0;
        while (pty.masterFd() >= 0 && (n = ::read(pty.masterFd(), buffer, sizeof buffer)) > 0)
            fromStation.append(buffer, int(n));
        return fromStation;
    }
};

std::chrono::microseconds cpuTime()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return std::chrono::seconds(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           std::chrono::microseconds(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

int errorNumber(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const StationError &e) {
        return e.error().number;
    }
    return 0;
}
} // namespace

class TestQtSerialComm : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initialSettings();
    void portPaths();
    void openFailures();
    void portInUse();
    void settings_data();
    void settings();
    void portNumbers_data();
    void portNumbers();
    void severalBytesAtOnceAllHandled();
    void lockStepOneEventPerCharacter();
    void bytesAreLatin1();
    void reopenCloseAndClosedPort();
    void repeatedStartStop();
    void hangUpClosesOnceAndQuietly();
};

void TestQtSerialComm::initialSettings()
{
    QtSerialComm comm(QDir::tempPath());
    QCOMPARE(comm.CommPort(), 1);
    QCOMPARE(comm.Settings(), QStringLiteral("9600,N,8,1"));
    QCOMPARE(comm.InputLen(), 0);
    QVERIFY(!comm.PortOpen());
}

void TestQtSerialComm::portPaths()
{
    Bench b;
    QCOMPARE(b.comm.portPath(1), b.dir.filePath("COM1"));
    QCOMPARE(b.comm.portPath(2), QStringLiteral("/dev/ttyS1"));
    QVERIFY(QFile::link("/nonexistent/ttyUSB9", b.dir.filePath("COM9")));
    QCOMPARE(b.comm.portPath(9), b.dir.filePath("COM9")); // a dangling link still names the port
}

void TestQtSerialComm::openFailures()
{
    Bench b;
    if (QFileInfo::exists("/dev/ttyS199"))
        QSKIP("this machine has a /dev/ttyS199");
    b.comm.setCommPort(200);
    try {
        b.comm.setPortOpen(true);
        QFAIL("opened a port that does not exist");
    } catch (const StationError &e) {
        QCOMPARE(e.error().number, ErrorCode::PortNotFound);
        QCOMPARE(e.error().description, QStringLiteral("COM200: no such port (/dev/ttyS199)"));
    }
    QVERIFY(!b.comm.PortOpen());

    QVERIFY(QFile::link("/nonexistent/ttyUSB9", b.dir.filePath("COM9")));
    b.comm.setCommPort(9);
    QCOMPARE(errorNumber([&] { b.comm.setPortOpen(true); }), ErrorCode::PortNotFound);
    QVERIFY(!b.comm.PortOpen());
}

void TestQtSerialComm::portInUse()
{
    Bench b;
    b.comm.setPortOpen(true);
    QtSerialComm other(b.dir.path());
    try {
        other.setPortOpen(true);
        QFAIL("a port in use opened twice");
    } catch (const StationError &e) {
        QCOMPARE(e.error().number, ErrorCode::PortInUse);
        QVERIFY2(e.error().description.startsWith("COM1: port already in use"),
                 qPrintable(e.error().description));
    }
    QVERIFY(!other.PortOpen());
    QVERIFY(b.comm.PortOpen());
    b.comm.setPortOpen(false);
    other.setPortOpen(true); // free again
    QVERIFY(other.PortOpen());
}

void TestQtSerialComm::settings_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("station's own") << "9600,N,8,1" << true;
    QTest::newRow("even, 7 bits, 2 stop, lower case") << "19200,e,7,2" << true;
    QTest::newRow("one and a half stop bits") << "300,O,5,1.5" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("three parts") << "9600,N,8" << false;
    QTest::newRow("five parts") << "9600,N,8,1,1" << false;
    QTest::newRow("baud not a number") << "fast,N,8,1" << false;
    QTest::newRow("zero baud") << "0,N,8,1" << false;
    QTest::newRow("unknown parity") << "9600,X,8,1" << false;
    QTest::newRow("9 data bits") << "9600,N,9,1" << false;
    QTest::newRow("3 stop bits") << "9600,N,8,3" << false;
}

void TestQtSerialComm::settings()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    Bench b;
    const int error = errorNumber([&] { b.comm.setSettings(text); });
    QCOMPARE(error, valid ? 0 : ErrorCode::InvalidSettings);
    QCOMPARE(b.comm.Settings(), valid ? text : QStringLiteral("9600,N,8,1"));
    if (valid) {
        b.comm.setPortOpen(true); // the line takes them
        QVERIFY(b.comm.PortOpen());
    }
}

void TestQtSerialComm::portNumbers_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("error");
    QTest::newRow("0") << 0 << ErrorCode::InvalidPortNumber;
    QTest::newRow("-1") << -1 << ErrorCode::InvalidPortNumber;
    QTest::newRow("256") << 256 << ErrorCode::InvalidPortNumber;
    QTest::newRow("12") << 12 << 0;
}

void TestQtSerialComm::portNumbers()
{
    QFETCH(int, port);
    QtSerialComm comm(QDir::tempPath());
    QTEST(errorNumber([&] { comm.setCommPort(port); }), "error");
}

void TestQtSerialComm::severalBytesAtOnceAllHandled()
{
    Bench b;
    FrameParser parser(b.comm);
    int events = 0, commits = 0;
    connect(&b.comm, &SerialComm::OnComm, this, [&] {
        ++events;
        parser.MSComm1_OnComm();
    });
    parser.setCommit([&] { ++commits; });
    b.comm.setInputLen(1);
    b.comm.setPortOpen(true);

    b.send("N1,2,3,4,"); // all nine at once: readyRead fires once for them
    QTRY_COMPARE_WITH_TIMEOUT(b.received().size(), 9 * 4, 2000);
    QCOMPARE(b.received(), QByteArray("bcde").repeated(9));
    QCOMPARE(events, 9);
    QCOMPARE(commits, 1);
    QCOMPARE(parser.Label1(3).text(), QStringLiteral("  4"));
}

void TestQtSerialComm::lockStepOneEventPerCharacter()
{
    Bench b;
    FrameParser parser(b.comm);
    QList<QString> reads;
    connect(&b.comm, &SerialComm::OnComm, this, [&] {
        parser.MSComm1_OnComm();
        reads.append(parser.Text3().text());
    });
    b.comm.setInputLen(1);
    b.comm.setPortOpen(true);

    const QByteArray frame("N25.3,26.1,24.8,0.52,");
    for (int i = 0; i < frame.size(); ++i) {
        b.send(frame.mid(i, 1));
        QTRY_COMPARE_WITH_TIMEOUT(b.received().size(), (i + 1) * 4, 2000);
    }
    QCOMPARE(b.received(), QByteArray("bcde").repeated(frame.size()));
    QCOMPARE(reads.size(), frame.size());
    QCOMPARE(reads.first(), QStringLiteral("N"));
    QCOMPARE(parser.label1Captions(), (std::array<QString, 4>{"  25.3", "  26.1", "  24.8", "  0.52"}));
}

void TestQtSerialComm::bytesAreLatin1()
{
    Bench b;
    QString input;
    connect(&b.comm, &SerialComm::OnComm, this, [&] { input += b.comm.Input(); });
    b.comm.setPortOpen(true); // read length 0: all that waits

    QByteArray all;
    for (int c = 0; c < 256; ++c)
        all.append(char(c));
    b.send(all);
    QTRY_COMPARE_WITH_TIMEOUT(input.size(), 256, 2000);
    for (int c = 0; c < 256; ++c)
        QCOMPARE(input.at(c).unicode(), char16_t(c));

    b.comm.Output(input);
    QTRY_COMPARE_WITH_TIMEOUT(b.received(), all, 2000);
}

void TestQtSerialComm::reopenCloseAndClosedPort()
{
    Bench b;
    QCOMPARE(errorNumber([&] { b.comm.Output("b"); }), ErrorCode::PortNotOpen);
    QCOMPARE(errorNumber([&] { b.comm.Input(); }), ErrorCode::PortNotOpen);
    QCOMPARE(errorNumber([&] { b.comm.setPortOpen(false); }), 0); // closing a closed port does nothing

    b.comm.setPortOpen(true);
    QCOMPARE(errorNumber([&] { b.comm.setPortOpen(true); }), 0); // reopens
    QVERIFY(b.comm.PortOpen());
    QSignalSpy events(&b.comm, &SerialComm::OnComm);
    b.send("x");
    QVERIFY(events.wait(2000));
    QCOMPARE(b.comm.Input(), QStringLiteral("x"));

    b.comm.setPortOpen(false);
    b.comm.setPortOpen(false);
    QVERIFY(!b.comm.PortOpen());
    QCOMPARE(errorNumber([&] { b.comm.Output("b"); }), ErrorCode::PortNotOpen);
}

void TestQtSerialComm::repeatedStartStop()
{
    Bench b;
    int events = 0;
    connect(&b.comm, &SerialComm::OnComm, this, [&] {
        ++events;
        b.comm.Output(b.comm.Input().toUpper());
    });
    b.comm.setInputLen(1);
    for (int round = 0; round < 20; ++round) {
        b.comm.setPortOpen(true);
        b.send("q");
        QTRY_COMPARE_WITH_TIMEOUT(b.received().size(), round + 1, 2000);
        b.comm.setPortOpen(false);
    }
    QCOMPARE(b.received(), QByteArray(20, 'Q'));
    QCOMPARE(events, 20);
}

void TestQtSerialComm::hangUpClosesOnceAndQuietly()
{
    Bench b;
    b.comm.setInputLen(1);
    b.comm.setPortOpen(true);
    QSignalSpy lost(&b.comm, &SerialComm::deviceLost);
    QSignalSpy events(&b.comm, &SerialComm::OnComm);

    const auto hungUp = std::chrono::steady_clock::now();
    b.pty.closeMaster();
    QVERIFY(lost.wait(1000));
    QVERIFY(std::chrono::steady_clock::now() - hungUp < 1s);
    QVERIFY(!b.comm.PortOpen());
    const auto error = lost.first().first().value<Error>();
    QCOMPARE(error.number, ErrorCode::DeviceLost);
    QVERIFY2(error.description.startsWith("COM1: device lost"), qPrintable(error.description));

    // A window of event loop after the loss: no more reports, no events, and
    // the process does not spin.
    const auto cpuBefore = cpuTime();
    const auto wallBefore = std::chrono::steady_clock::now();
    QEventLoop loop;
    QTimer::singleShot(500ms, &loop, &QEventLoop::quit);
    loop.exec();
    const auto cpu = cpuTime() - cpuBefore;
    const auto wall =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - wallBefore);
    QVERIFY2(cpu * 5 < wall,
             qPrintable(QStringLiteral("CPU %1 us in %2 us").arg(cpu.count()).arg(wall.count())));
    QCOMPARE(lost.count(), 1);
    QCOMPARE(events.count(), 0);

    // The loss has been told: the rest of a poll burst goes nowhere quietly
    // until the program closes or opens the port.
    QCOMPARE(errorNumber([&] { b.comm.Output("c"); }), 0);
    b.comm.setPortOpen(false);
    QCOMPARE(errorNumber([&] { b.comm.Output("c"); }), ErrorCode::PortNotOpen);
}

QTEST_GUILESS_MAIN(TestQtSerialComm)
#include "tst_qtserialcomm.moc"
