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

#include "bench/support/benchsupport.h"
#include "recordlog/recordlog.h"
#include "store/storemaintenance.h"
#include "support/fakes.h"

#include <libpq-fe.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <map>
#include <vector>

using namespace qf;

namespace {

using namespace qf::bench;
using namespace std::chrono_literals;

constexpr double FramesPerSecond = 45.0;
constexpr auto PollInterval = 10ms;
constexpr QLatin1String Station("bench");

QString serverScript(const QStringList &arguments)
{
    return QString::fromLocal8Bit(runToEnd(QStringLiteral(QF_PGSERVER), arguments));
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

// The uplink following the store in dir, caught up.
struct Uplink {
    Uplink(const QString &conninfo, const QString &dir)
    {
        process.start(program(QStringLiteral("quillfern-uplink")),
                      {QStringLiteral("--station"), Station, QStringLiteral("--db"), conninfo, dir});
        process.waitForLine("caught up");
    }
    Child process{Child::Read::ErrorLines};
};

void catchUp(const QString &conninfo, const QString &dir, qint64 records)
{
    std::printf("filling a store with %lld records...\n", records);
    std::fflush(stdout);
    createStore(storeFilePath(dir));
    fillStore(storeFilePath(dir), records);
    const auto start = Clock::now();
    Uplink uplink(conninfo, dir);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("catch-up of %lld records: %.1f s, %.0f records/s (uplink CPU %.1f s)\n", records, seconds,
                double(records) / seconds, processCpu(uplink.process.pid()).count());
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
    const Seconds cpuBefore = processCpu(uplink.process.pid());
    const auto start = Clock::now();
    std::vector<double> delays;
    std::vector<double> with = commitAtLineRate(log, duration, &central, &delays);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = (processCpu(uplink.process.pid()) - cpuBefore).count();
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
    Options options;
    options.add(QStringLiteral("records"), QStringLiteral("Records of the catch-up store."),
                QStringLiteral("N"), QStringLiteral("1000000"));
    options.add(QStringLiteral("seconds"), QStringLiteral("Seconds of each follow phase."),
                QStringLiteral("S"), QStringLiteral("20"));
    options.process(app);

    const QString server = serverScript({"create", QF_PG_RECORD});
    if (server.isEmpty()) {
        std::fprintf(stderr, "the private PostgreSQL server did not start\n");
        return 1;
    }
    const QString conninfo = QStringLiteral("host=%1 user=quillfern dbname=postgres").arg(server);
    QTemporaryDir dir;
    catchUp(conninfo, dir.path(), options.integer(QStringLiteral("records")));
    follow(conninfo, dir.path(), std::chrono::seconds(options.integer(QStringLiteral("seconds"))));
    serverScript({"remove", server});
    return 0;
}
