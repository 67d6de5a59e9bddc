// What the benchmarks share: their command line, the child programs they
// start and watch, the figures they read from /proc, and how they print
// them. Qt Core only, so that every benchmark may link it.
//
//   Options options;                       // --help included
//   options.add("dir", "Where the stores are built.", "DIR");
//   options.add("sizes", "Store sizes, comma-separated.", "N,...", "1000");
//   options.process(app);
//   options.list("sizes"); options.integer("chars"); options.directory("dir");
//
//   if (const auto dir = childArgument(argc, argv, "--child")) ...  // this program as its own child
//   Child sim(Child::Read::ErrorLines);    // or Read::Nothing, Read::Output
//   sim.onErrorLine([](const QByteArray &line) { ... });
//   sim.start(program("quillfern-devsim"), {...});
//   sim.waitForLine("caught up"); sim.pid(); sim.stop();   // ~Child stops it too
//   runToEnd(program, args);               // its standard output, trimmed
//   waitUntil([&] { return ready(); }, 5s);
//
//   processCpu(pid), liveThreadsCpu(pid), threadCpu(), procFigure("status", "VmHWM:", pid)
//   percentile(values, 0.95), mean(values)
//   printTableHead({"figure", "target", "1000 records"}); printTableRow({...});

#pragma once

#include <QByteArray>
#include <QCommandLineParser>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QCoreApplication;

namespace qf {

namespace bench {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;
using Seconds = std::chrono::duration<double>;

// Waiting without a deadline.
constexpr std::chrono::milliseconds NoDeadline{-1};

// The benchmark's command line: options with a value and a default, or
// flags, and --help.
class Options {
public:
    Options();

    // An option taking a value named valueName (with defaultValue when not
    // given); without a valueName a flag.
    void add(const QString &name, const QString &description, const QString &valueName = {},
             const QString &defaultValue = {});
    // Reads the command line; ends the program on an unknown option or --help.
    void process(const QCoreApplication &app);

    bool isSet(const QString &name) const;
    QString text(const QString &name) const;
    qint64 integer(const QString &name) const;
    double number(const QString &name) const;
    // The value split at its commas ("1000,2000").
    QStringList list(const QString &name) const;
    // The option's directory, or else a temporary one that lasts as long as
    // this object.
    QString directory(const QString &name);

private:
    QCommandLineParser m_parser;
    std::unique_ptr<QTemporaryDir> m_temporary;
};

// The argument after flag when this program was started as "PROGRAM flag
// ARG" (a benchmark that measures in a fresh child of itself), else none.
std::optional<QString> childArgument(int argc, char **argv, const char *flag);

// A program that lies beside this one (build/bin).
QString program(const QString &name);

// A child program. Its standard output and error are passed on to this
// program's, except the one it reads: its output (Read::Output, for
// output()) or the lines of its error (Read::ErrorLines, for onErrorLine()
// and waitForLine(); read and dropped when neither is used). Stopped, if
// still running, when the object goes.
class Child {
public:
    enum class Read { Nothing, Output, ErrorLines };

    explicit Child(Read read = Read::Nothing);
    ~Child();
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    // Sets a variable of the child's environment; before start().
    void setEnv(const QString &name, const QString &value);
    // Called with each line of the child's standard error, without its
    // newline, as the event loop turns or a wait here reads.
    void onErrorLine(std::function<void(const QByteArray &)> onLine);

    // Starts the program and waits until it runs; says on stderr when not.
    bool start(const QString &program, const QStringList &args);
    // Waits until a line of standard error read from now on contains text;
    // false when the child ended or the deadline passed first.
    bool waitForLine(const QByteArray &text, std::chrono::milliseconds deadline = NoDeadline);
    // Waits until the child ends (at most deadline): its output, trimmed.
    QByteArray output(std::chrono::milliseconds deadline = NoDeadline);
    // SIGTERM, and SIGKILL when it has not ended within a few seconds.
    void stop();

    bool running() const;
    qint64 pid() const;

private:
    void readErrorLines();

    QProcess m_process;
    QByteArray m_partialLine;
    std::function<void(const QByteArray &)> m_onLine;
    QByteArray m_awaited;
    bool m_heard = false;
};

// Runs a program to its end (at most deadline), its standard error passed
// on: its standard output, trimmed.
QByteArray runToEnd(const QString &program, const QStringList &args,
                    std::chrono::milliseconds deadline = NoDeadline);

// Runs the event loop, asking done() every few milliseconds, until it holds
// (true) or the deadline passes.
bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds deadline);

// A process id meaning this program.
constexpr qint64 OwnProcess = 0;

// The number after key in a /proc file of a process, such as ("status",
// "VmHWM:") in KiB or ("io", "rchar:") in bytes; -1 when not found.
long long procFigure(const char *file, const char *key, qint64 pid = OwnProcess);
// CPU time (user and system) of a process so far, its ended threads
// included: of this program to the microsecond, of another to the tick.
Seconds processCpu(qint64 pid = OwnProcess);
// CPU time of the live threads of a process, to the nanosecond (the
// scheduler's own account).
std::chrono::nanoseconds liveThreadsCpu(qint64 pid);
// CPU time of the calling thread.
std::chrono::nanoseconds threadCpu();

// The value below which the share p (0..1) of values lie; p = 1 gives the
// largest. 0 for no values.
double percentile(std::vector<double> values, double p);
// 0 for no values.
double mean(const std::vector<double> &values);

// A figures table in Markdown on stdout: the head row with its rule, then
// one row per call.
void printTableHead(const QStringList &columns);
void printTableRow(const QStringList &cells);

} // namespace bench

} // namespace qf
