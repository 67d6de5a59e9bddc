// quillfern-bench-uplink: the uplink against a private PostgreSQL server
// (tests/uplink/pgserver.sh, default settings).
//
//   quillfern-bench-uplink [--records 1000000] [--seconds 20]
//
// Prints the catch-up rate over a store of --records records; then, with the
// station committing at the line's 45 frames/s for --seconds, the delay from
// a commit's return to its row in the central table (polled every 10 ms),
// the uplink's CPU time, and the station's commit latency with the uplink
// following and with no uplink at all.

#include "recordlog/recordlog.h"
#include "store/storemaintenance.h"
#include "support/fakes.h"

#include <libpq-fe.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;
using namespace std::chrono_literals;

constexpr double FramesPerSecond = 45.0;
constexpr auto PollInterval = 10ms;
constexpr QLatin1String Station("bench");

QString serverScript(const QStringList &arguments)
{
    QProcess script;
    script.start(QStringLiteral(QF_PGSERVER), arguments);
    script.waitForFinished(-1);
    return QString::fromLocal8Bit(script.readAllStandardOutput()).trimmed();
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.at(std::min(v.size() - 1, std::size_t(p * double(v.size()))));
}

// CPU time (user + system) of a process so far.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
    constexpr int UtimeField = 12; // fields 14 and 15 of stat, counted after the name
    return double(fields.at(UtimeField).toLongLong() + fields.at(UtimeField + 1).toLongLong()) /
           double(sysconf(_SC_CLK_TCK));
}

class Central {
public:
    explicit Central(const QString &conninfo) : m_conn(PQconnectdb(conninfo.toUtf8().constData())) {}
    ~Central() { PQfinish(m_conn); }
    qint64 newestRowid()
    {
        PGresult *result = PQexec(m_conn, "SELECT record_rowid FROM quillfern_log WHERE station = 'bench'"
                                          " ORDER BY generation DESC, record_rowid DESC LIMIT 1");
        const qint64 rowid = PQntuples(result) == 1 ? QByteArray(PQgetvalue(result, 0, 0)).toLongLong() : 0;
        PQclear(result);
        return rowid;
    }

private:
    PGconn *m_conn;
};

struct Uplink {
    Uplink(const QString &conninfo, const QString &dir)
    {
        process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        process.start(QCoreApplication::applicationDirPath() + "/quillfern-uplink",
                      {"--station", Station, "--db", conninfo, dir});
        process.waitForStarted();
    }
    ~Uplink()
    {
        process.terminate();
        process.waitForFinished();
    }
    bool said(const QByteArray &text)
    {
        output += process.readAllStandardError();
        return output.contains(text);
    }
    QProcess process;
    QByteArray output;
};

void catchUp(const QString &conninfo, const QString &dir, qint64 records)
{
    std::printf("filling a store with %lld records...\n", records);
    std::fflush(stdout);
    createStore(storeFilePath(dir));
    fillStore(storeFilePath(dir), records);
    const auto start = Clock::now();
    Uplink uplink(conninfo, dir);
    while (!uplink.said("caught up") && uplink.process.state() == QProcess::Running)
        uplink.process.waitForReadyRead(100);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("catch-up of %lld records: %.1f s, %.0f records/s (uplink CPU %.1f s)\n", records, seconds,
                double(records) / seconds, cpuSeconds(uplink.process.processId()));
}

// Commits at 45 frames/s for the given time; returns each commit's latency
// in ms. With central, also the delay of each record to its central row.
std::vector<double> commitAtLineRate(RecordLog &log, std::chrono::seconds duration, Central *central,
                                     std::vector<double> *delays)
{
    std::vector<double> latencies;
    std::map<qint64, Clock::time_point> committed; // rowid -> time the commit returned
    qint64 rowid = central != nullptr ? central->newestRowid() : 0;
    const auto period =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / FramesPerSecond));
    const auto start = Clock::now();
    auto nextCommit = start;
    auto nextPoll = start;
    while (Clock::now() - start < duration ||
           (central != nullptr && !committed.empty() && Clock::now() - start < duration * 2)) {
        const auto now = Clock::now();
        if (now >= nextCommit && now - start < duration) {
            log.commit({"  21.5", "  22", "  7", "  0.5"});
            const auto done = Clock::now();
            latencies.push_back(Ms(done - now).count());
            committed[++rowid] = done;
            nextCommit += period;
        }
        if (central != nullptr && now >= nextPoll) {
            const qint64 newest = central->newestRowid();
            const auto seen = Clock::now();
            for (auto it = committed.begin(); it != committed.end() && it->first <= newest;)
                delays->push_back(Ms(seen - it->second).count()), it = committed.erase(it);
            nextPoll = seen + PollInterval;
        }
        QThread::msleep(1);
    }
    return latencies;
}

void follow(const QString &conninfo, const QString &dir, std::chrono::seconds duration)
{
    FakeMessageBoxes boxes;
    RecordLog log(dir, boxes);
    log.openStore();
    log.listAllRecords();
    Central central(conninfo);
    std::vector<double> without = commitAtLineRate(log, duration, nullptr, nullptr);
    Uplink uplink(conninfo, dir);
    while (!uplink.said("caught up") && uplink.process.state() == QProcess::Running)
        uplink.process.waitForReadyRead(100);
    const double cpuBefore = cpuSeconds(uplink.process.processId());
    const auto start = Clock::now();
    std::vector<double> delays;
    std::vector<double> with = commitAtLineRate(log, duration, &central, &delays);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = cpuSeconds(uplink.process.processId()) - cpuBefore;
    std::printf(
        "follow at %.0f frames/s for %lld s: commit to central row p50 %.0f ms, p99 %.0f ms, max %.0f ms "
        "(%zu records)\n",
        FramesPerSecond, qint64(duration.count()), percentile(delays, 0.5), percentile(delays, 0.99),
        percentile(delays, 1.0), delays.size());
    std::printf("uplink CPU while following: %.2f %% of a core\n", 100.0 * cpu / wall);
    std::printf("station commit latency without uplink: p50 %.2f ms, p99 %.2f ms (%zu commits)\n",
                percentile(without, 0.5), percentile(without, 0.99), without.size());
    std::printf("station commit latency with uplink following: p50 %.2f ms, p99 %.2f ms (%zu commits)\n",
                percentile(with, 0.5), percentile(with, 0.99), with.size());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption records("records", "Records of the catch-up store.", "N", "1000000");
    const QCommandLineOption seconds("seconds", "Seconds of each follow phase.", "S", "20");
    parser.addOptions({records, seconds});
    parser.addHelpOption();
    parser.process(app);

    const QString server = serverScript({"create", QF_PG_RECORD});
    if (server.isEmpty()) {
        std::fprintf(stderr, "the private PostgreSQL server did not start\n");
        return 1;
    }
    const QString conninfo = QStringLiteral("host=%1 user=quillfern dbname=postgres").arg(server);
    QTemporaryDir dir;
    catchUp(conninfo, dir.path(), parser.value(records).toLongLong());
    follow(conninfo, dir.path(), std::chrono::seconds(parser.value(seconds).toInt()));
    serverScript({"remove", server});
    return 0;
}
