// quillfern-bench-acquisition: how fast the receive side runs.
//
// 1. Events per second through the receive handler with the in-memory serial
//    component (receive events queued on the event loop as for real).
// 2. Lock-step characters per second through QtSerialComm over a
//    pseudo-terminal, with quillfern-devsim as the device (no pause between
//    frames), and the CPU this process spends per received character: the
//    handler's own share (target: at most 10 us, 1 % of a character's time
//    on the line at 9600 baud) and everything of the station's side.

#include "acquisition/frameparser.h"
#include "acquisition/qtserialcomm.h"
#include "bench/support/benchsupport.h"
#include "support/fakeserialcomm.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <cstdio>

using namespace qf;

using namespace std::chrono;
using namespace std::chrono_literals;
using namespace qf::bench;

namespace {

constexpr auto LinkDeadline = 5s;
// A frame parser on a component, opened as START opens it, that counts its
// events and commits and adds up the CPU its handler takes.
struct TimedParser {
    explicit TimedParser(SerialComm &comm) : parser(comm)
    {
        parser.setCommit([this] { ++commits; });
        QObject::connect(&comm, &SerialComm::OnComm, [this] {
            const auto start = threadCpu();
            parser.onReceive();
            cpu += threadCpu() - start;
            ++events;
        });
        comm.setInputLen(1);
        comm.setPortOpen(true);
    }

    FrameParser parser;
    long long events = 0;
    long long commits = 0;
    nanoseconds cpu{0};
};

void withDouble()
{
    FakeSerialComm comm;
    comm.setRecording(false);
    TimedParser handler(comm);

    const QByteArray frame("N25.3,26.1,24.8,0.52,");
    const QByteArray chunk = frame.repeated(500);
    constexpr int Rounds = 40;
    QElapsedTimer wall;
    wall.start();
    for (int i = 0; i < Rounds; ++i) {
        comm.receive(chunk);
        while (comm.waiting() > 0)
            QCoreApplication::processEvents();
        comm.clearLog();
    }
    const double seconds = wall.nsecsElapsed() / 1e9;
    std::printf("parser with the in-memory component:\n");
    std::printf("  %lld events, %lld frames in %.3f s: %.0f events/s\n", handler.events, handler.commits,
                seconds, handler.events / seconds);
    std::printf("  handler CPU per event: %.2f us\n",
                duration<double, std::micro>(handler.cpu).count() / handler.events);
}

int overPseudoTerminal()
{
    QTemporaryDir dir;
    // The device prints a line per frame on stderr: read and dropped.
    Child sim(Child::Read::ErrorLines);
    if (!sim.start(program(QStringLiteral("quillfern-devsim")),
                   {"--dir", dir.path(), "--port", "1", "--interval", "0", "--seed", "1"}))
        return 1;
    if (!waitUntil([&] { return QFileInfo(dir.filePath("COM1")).isSymLink(); }, LinkDeadline)) {
        std::fprintf(stderr, "the simulated device did not publish COM1\n");
        return 1;
    }

    QtSerialComm comm(dir.path());
    TimedParser handler(comm);

    QEventLoop loop;
    // Warm up until the first frame, then measure a window of some seconds.
    QObject::connect(&comm, &SerialComm::deviceLost, &loop, [&] { loop.exit(1); });
    QTimer warm;
    QObject::connect(&warm, &QTimer::timeout, &loop, [&] {
        if (handler.commits > 0)
            loop.quit();
    });
    warm.start(10);
    QTimer::singleShot(10s, &loop, [&] { loop.exit(2); });
    if (loop.exec() != 0) {
        std::fprintf(stderr, "no frame arrived from the simulated device\n");
        return 1;
    }
    warm.stop();

    const long long events0 = handler.events, commits0 = handler.commits;
    const nanoseconds handler0 = handler.cpu;
    const Seconds process0 = processCpu();
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(3s, &loop, &QEventLoop::quit);
    loop.exec();
    const double seconds = wall.nsecsElapsed() / 1e9;
    const long long events = handler.events - events0;
    const auto handlerCpu = duration<double, std::micro>(handler.cpu - handler0).count();
    const auto processCpuUs = duration<double, std::micro>(processCpu() - process0).count();
    comm.setPortOpen(false);
    sim.stop();

    std::printf("QtSerialComm over a pseudo-terminal, lock-step with quillfern-devsim:\n");
    std::printf("  %lld characters, %lld frames in %.3f s: %.0f characters/s (9600 baud carries 960)\n",
                events, handler.commits - commits0, seconds, events / seconds);
    std::printf("  handler CPU per character: %.2f us (target <= 10 us)\n", handlerCpu / events);
    std::printf("  station process CPU per character (event loop, QSerialPort, handler): %.2f us\n",
                processCpuUs / events);
    return handlerCpu / events <= 10.0 ? 0 : 3;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    withDouble();
    return overPseudoTerminal();
}
