#include "bench/support/benchsupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <numeric>

#include <sys/resource.h>
#include <unistd.h>

namespace qf::bench {

namespace {
constexpr std::chrono::milliseconds StopGrace{5000};
constexpr std::chrono::milliseconds ReadStep{100};
constexpr std::chrono::milliseconds PollStep{10};
// Fields 14 and 15 of /proc/PID/stat (user and system time), counted after
// the program's name.
constexpr qsizetype UserTimeField = 11;

int qtMs(std::chrono::milliseconds deadline)
{
    return int(deadline.count());
}

QDeadlineTimer deadlineOf(std::chrono::milliseconds deadline)
{
    return deadline == NoDeadline ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(deadline);
}

QString procPath(qint64 pid, const char *file)
{
    const QString process = pid == OwnProcess ? QStringLiteral("self") : QString::number(pid);
    return QStringLiteral("/proc/%1/%2").arg(process, QLatin1String(file));
}
} // namespace

Options::Options()
{
    m_parser.addHelpOption();
}

void Options::add(const QString &name, const QString &description, const QString &valueName,
                  const QString &defaultValue)
{
    m_parser.addOption({name, description, valueName, defaultValue});
}

void Options::process(const QCoreApplication &app)
{
    m_parser.process(app);
}

bool Options::isSet(const QString &name) const
{
    return m_parser.isSet(name);
}

QString Options::text(const QString &name) const
{
    return m_parser.value(name);
}

qint64 Options::integer(const QString &name) const
{
    return m_parser.value(name).toLongLong();
}

double Options::number(const QString &name) const
{
    return m_parser.value(name).toDouble();
}

QStringList Options::list(const QString &name) const
{
    return m_parser.value(name).split(QLatin1Char(','));
}

QString Options::directory(const QString &name)
{
    if (m_parser.isSet(name))
        return m_parser.value(name);
    if (!m_temporary)
        m_temporary = std::make_unique<QTemporaryDir>();
    return m_temporary->path();
}

std::optional<QString> childArgument(int argc, char **argv, const char *flag)
{
    if (argc == 3 && qstrcmp(argv[1], flag) == 0)
        return QString::fromLocal8Bit(argv[2]);
    return std::nullopt;
}

QString program(const QString &name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

Child::Child(Read read)
{
    switch (read) {
    case Read::Nothing:
        m_process.setProcessChannelMode(QProcess::ForwardedChannels);
        break;
    case Read::Output:
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        break;
    case Read::ErrorLines:
        m_process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        QObject::connect(&m_process, &QProcess::readyReadStandardError, [this] { readErrorLines(); });
        break;
    }
}

Child::~Child()
{
    stop();
}

void Child::setEnv(const QString &name, const QString &value)
{
    QProcessEnvironment env = m_process.processEnvironment();
    if (env.isEmpty())
        env = QProcessEnvironment::systemEnvironment();
    env.insert(name, value);
    m_process.setProcessEnvironment(env);
}

void Child::onErrorLine(std::function<void(const QByteArray &)> onLine)
{
    m_onLine = std::move(onLine);
}

bool Child::start(const QString &program, const QStringList &args)
{
    m_process.start(program, args);
    if (m_process.waitForStarted())
        return true;
    std::fprintf(stderr, "cannot start %s\n", qPrintable(program));
    return false;
}

bool Child::waitForLine(const QByteArray &text, std::chrono::milliseconds deadline)
{
    m_awaited = text;
    m_heard = false;
    const QDeadlineTimer until = deadlineOf(deadline);
    while (!m_heard && running() && !until.hasExpired()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until.remainingTimeAsDuration());
        m_process.waitForReadyRead(qtMs(until.isForever() ? ReadStep : std::min(ReadStep, left)));
    }
    m_awaited.clear();
    return m_heard;
}

QByteArray Child::output(std::chrono::milliseconds deadline)
{
    m_process.waitForFinished(qtMs(deadline));
    return m_process.readAllStandardOutput().trimmed();
}

void Child::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(qtMs(StopGrace))) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

bool Child::running() const
{
    return m_process.state() == QProcess::Running;
}

qint64 Child::pid() const
{
    return m_process.processId();
}

void Child::readErrorLines()
{
    m_partialLine += m_process.readAllStandardError();
    qsizetype end;
    while ((end = m_partialLine.indexOf('\n')) >= 0) {
        const QByteArray line = m_partialLine.left(end);
        m_partialLine.remove(0, end + 1);
        if (!m_awaited.isEmpty() && line.contains(m_awaited))
            m_heard = true;
        if (m_onLine)
            m_onLine(line);
    }
}

QByteArray runToEnd(const QString &program, const QStringList &args, std::chrono::milliseconds deadline)
{
    Child child(Child::Read::Output);
    if (!child.start(program, args))
        return {};
    return child.output(deadline);
}

bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds deadline)
{
    if (done())
        return true;
    const QDeadlineTimer until = deadlineOf(deadline);
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || until.hasExpired())
            loop.quit();
    });
    poll.start(PollStep);
    loop.exec();
    return done();
}

long long procFigure(const char *file, const char *key, qint64 pid)
{
    QFile proc(procPath(pid, file));
    if (!proc.open(QIODevice::ReadOnly))
        return -1;
    const qsizetype keyLength = qsizetype(qstrlen(key));
    for (const QByteArray &line : proc.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(keyLength).trimmed().split(' ').front().toLongLong();
    }
    return -1;
}

Seconds processCpu(qint64 pid)
{
    using namespace std::chrono;
    if (pid == OwnProcess) {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return seconds(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               microseconds(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    }
    QFile stat(procPath(pid, "stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return Seconds(-1);
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return Seconds((fields.value(UserTimeField).toDouble() + fields.value(UserTimeField + 1).toDouble()) /
                   double(sysconf(_SC_CLK_TCK)));
}

std::chrono::nanoseconds liveThreadsCpu(qint64 pid)
{
    std::chrono::nanoseconds total{0};
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (stat.open(QIODevice::ReadOnly))
            total += std::chrono::nanoseconds(stat.readAll().split(' ').front().toLongLong());
    }
    return total;
}

std::chrono::nanoseconds threadCpu()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(p * double(values.size())))];
}

double mean(const std::vector<double> &values)
{
    if (values.empty())
        return 0;
    return std::accumulate(values.begin(), values.end(), 0.0) / double(values.size());
}

void printTableHead(const QStringList &columns)
{
    printTableRow(columns);
    std::printf("|%s\n", qPrintable(QStringLiteral("---|").repeated(columns.size())));
}

void printTableRow(const QStringList &cells)
{
    std::printf("| %s |\n", qPrintable(cells.join(QStringLiteral(" | "))));
}

} // namespace qf::bench
