// quillfern-bench-window: what the painted window costs per character.
//
//   quillfern-bench-window [--dir DIR] [--sizes 0,1000000] [--chars 21000]
//
// The station runs as a child of this program, the real window shown and
// painted (the offscreen platform unless QT_QPA_PLATFORM says otherwise),
// its port COM1 a pseudo-terminal whose master end this program plays as
// the device, lock-step: one character, then wait for the poll burst
// "bcde" that answers it. For each store size it measures the station's CPU
// per character outside frames ("x25.3,26.1,24.8,0.52,": never a frame) and
// inside complete 21-character frames ("N25.3,26.1,24.8,0.52,"), and the
// lock-step rate with frames against quillfern-bench-echo, a bare Qt program
// that only answers the poll burst, on the same machine in the same run.
//
// Targets: CPU per character inside frames at most 1.5 times that outside;
// the rate with frames at least half the echo program's.

#include "acquisition/qtserialcomm.h"
#include "app/classicstyle.h"
#include "app/defaulterrorreport.h"
#include "app/station.h"
#include "bench/support/benchsupport.h"
#include "portlink.h"
#include "pseudoterminal.h"
#include "store/storemaintenance.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <unistd.h>

using namespace qf;

using namespace std::chrono;
using namespace qf::bench;

namespace {

constexpr int AnswerTimeoutMs = 10000;
constexpr minutes StartDeadline{2};
constexpr int WarmUpChars = 420;
constexpr int Rounds = 10;
constexpr qsizetype BurstSize = 4;
const QByteArray Frame("N25.3,26.1,24.8,0.52,");
const QByteArray NoFrame("x25.3,26.1,24.8,0.52,");
constexpr double CpuTarget = 1.5;
constexpr double RateTarget = 0.5;

[[noreturn]] void endProcess(int status)
{
    std::fflush(nullptr);
    std::_Exit(status);
}

// Boxes of the benchmark's station: the prompt goes to stderr, OK answers.
class PrintedBoxes : public MessageBoxes {
public:
    MsgAnswer msgBox(const QString &prompt, MsgStyles, const QString &) override
    {
        std::fprintf(stderr, "box: %s\n", qPrintable(prompt));
        return MsgAnswer::Ok;
    }
    int openNotice(const QString &prompt, MsgStyles style, const QString &title) override
    {
        msgBox(prompt, style, title);
        return 1; // a key (0 is none); notices are never closed here
    }
    void closeNotice(int) override {}
};

// The child: the station as the program builds it, shown, START pressed.
int stationChild(const QString &appDir, int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(applicationTitle());
    if (QStyle *classic = createClassicStyle())
        QApplication::setStyle(classic);
    PrintedBoxes boxes;
    DefaultErrorReport report(boxes, stderr, endProcess);
    QtSerialComm comm(appDir);
    Station station(comm, appDir, boxes, report, endProcess);
    if (!station.startUp())
        return 1;
    station.form().show();
    QTimer::singleShot(0, &station, [&] { station.form().control<QAbstractButton>("Start")->click(); });
    return QApplication::exec();
}

// Sends one character and waits for its poll burst.
bool exchange(int fd, char c)
{
    if (::write(fd, &c, 1) != 1)
        return false;
    char answer[BurstSize];
    for (qsizetype got = 0; got < BurstSize;) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, AnswerTimeoutMs) <= 0)
            return false;
        const ssize_t n = ::read(fd, answer, std::size_t(BurstSize - got));
        if (n <= 0)
            return false;
        got += n;
    }
    return true;
}

// The lock-step rate and the CPU per character of the process pid over a
// number of characters, added up over rounds.
struct Phase {
    qint64 chars = 0;
    nanoseconds wall{0};
    nanoseconds cpu{0};

    double charsPerSecond() const { return double(chars) / duration<double>(wall).count(); }
    double cpuPerCharUs() const { return duration<double, std::micro>(cpu).count() / double(chars); }
};

// Plays count characters of pattern, lock-step, to the process pid.
bool play(PseudoTerminal &pty, qint64 pid, const QByteArray &pattern, int count, Phase &phase)
{
    const nanoseconds cpu0 = liveThreadsCpu(pid);
    const auto start = steady_clock::now();
    for (int i = 0; i < count; ++i) {
        if (!exchange(pty.masterFd(), pattern.at(i % pattern.size())))
            return false;
    }
    phase.wall += steady_clock::now() - start;
    phase.cpu += liveThreadsCpu(pid) - cpu0;
    phase.chars += count;
    return true;
}

// A child process on the pseudo-terminal, running until the object goes.
class PortChild {
public:
    PortChild(PseudoTerminal &pty, const QString &program, const QStringList &args) : m_pty(pty)
    {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            m_child.setEnv(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_child.start(program, args);
    }
    // Waits until the child holds the port open.
    bool ready()
    {
        waitUntil([this] { return m_pty.slaveOpen() || !m_child.running(); }, StartDeadline);
        if (!m_pty.slaveOpen())
            return false;
        m_pty.makeRaw();
        return true;
    }
    qint64 pid() const { return m_child.pid(); }

private:
    PseudoTerminal &m_pty;
    Child m_child;
};

void ensureStore(const QString &dir, qint64 records)
{
    QDir().mkpath(dir);
    const QString path = storeFilePath(dir);
    for (const char *suffix : {"", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
    createStore(path);
    if (records > 0)
        fillStore(path, records);
}

bool measure(const QString &dir, qint64 records, int chars)
{
    ensureStore(dir, records);
    ::sync(); // the store's pages are on disk before any commit is timed

    PseudoTerminal echoPty;
    PortChild echo(echoPty, program(QStringLiteral("quillfern-bench-echo")), {echoPty.slavePath()});
    PseudoTerminal pty;
    PortLink link(dir, 1, pty.slavePath());
    PortChild station(pty, QCoreApplication::applicationFilePath(), {QStringLiteral("--station"), dir});
    if (!link.isValid() || !echo.ready() || !station.ready()) {
        std::printf("  the echo program or the station did not come up\n");
        return false;
    }
    Phase warmUp;
    Phase floor;
    Phase outside;
    Phase inside;
    bool answered = play(echoPty, echo.pid(), Frame, WarmUpChars, warmUp) &&
                    play(pty, station.pid(), Frame, WarmUpChars, warmUp);
    // Rounds in turn, so that a change of the machine's load meets all three.
    const int perRound = std::max(1, chars / Rounds / int(Frame.size())) * int(Frame.size());
    for (int round = 0; answered && round < Rounds; ++round) {
        answered = play(echoPty, echo.pid(), Frame, perRound, floor) &&
                   play(pty, station.pid(), NoFrame, perRound, outside) &&
                   play(pty, station.pid(), Frame, perRound, inside);
    }
    if (!answered) {
        std::printf("  the echo program or the station stopped answering\n");
        return false;
    }
    const double cpuRatio = inside.cpuPerCharUs() / outside.cpuPerCharUs();
    const double rateRatio = inside.charsPerSecond() / floor.charsPerSecond();
    std::printf("  station CPU per character: outside frames %.1f us, inside frames %.1f us\n",
                outside.cpuPerCharUs(), inside.cpuPerCharUs());
    std::printf("  lock-step rate: station with frames %.0f chars/s (outside frames %.0f), echo program "
                "%.0f chars/s (CPU %.1f us per char)\n",
                inside.charsPerSecond(), outside.charsPerSecond(), floor.charsPerSecond(),
                floor.cpuPerCharUs());
    std::printf("  cpu_ratio=%.2f (target <= %.1f)  rate_ratio=%.2f (target >= %.1f)\n", cpuRatio, CpuTarget,
                rateRatio, RateTarget);
    return cpuRatio <= CpuTarget && rateRatio >= RateTarget;
}

} // namespace

int main(int argc, char *argv[])
{
    if (const auto dir = childArgument(argc, argv, "--station"))
        return stationChild(*dir, 1, argv);

    QCoreApplication app(argc, argv);
    Options options;
    options.add(QStringLiteral("dir"), QStringLiteral("Where the stores are built."), QStringLiteral("DIR"));
    options.add(QStringLiteral("sizes"), QStringLiteral("Store sizes, comma-separated."),
                QStringLiteral("N,..."), QStringLiteral("0,1000000"));
    options.add(QStringLiteral("chars"), QStringLiteral("Characters measured per phase."),
                QStringLiteral("N"), QStringLiteral("21000"));
    options.process(app);

    const QString base = options.directory(QStringLiteral("dir"));
    const int chars = int(options.integer(QStringLiteral("chars")));
    bool met = true;
    for (const QString &size : options.list(QStringLiteral("sizes"))) {
        const qint64 records = size.toLongLong();
        std::printf("store of %lld records, %d characters a phase:\n", records, chars);
        std::fflush(stdout);
        met = measure(QDir(base).filePath(size), records, chars) && met;
        std::fflush(stdout);
    }
    return met ? 0 : 3;
}
