// quillfern-bench-alarms: the alarm service beside a store the station's
// commit path writes at the line's 45 frames/s.
//
//   quillfern-bench-alarms [--seconds 30] [--dir DIR]
//
// Prints the station's commit latency without the service; then, with the
// service following, for a phase where every value stays inside its limit
// and one where one record in 9, at random, goes beyond the limit (the next
// comes back; random, so that the raises fall at every moment of the
// service's poll): the delay from a commit's return to its raised event in the
// journal (read by a reader polling every 5 ms), the service's CPU time,
// the station's commit latency, and the service's peak memory. Last, the
// raising phase again with the trend viewer's alarm summary open in a
// child process of this program (offscreen): the delay from a commit's
// return to the summary showing the alarm's row waiting for acknowledgement
// (the summary acknowledges each alarm once it has returned, as an operator
// would, so that a raise makes a new row; raises that come within one poll
// of the summary show as one row, counted for the last of them).

#include "alarms/alarmjournal.h"
#include "alarms/journalreader.h"
#include "bench/support/benchsupport.h"
#include "recordlog/recordlog.h"
#include "store/storemaintenance.h"
#include "support/fakes.h"
#include "trendview/alarmsummary.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTableWidget>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <vector>

using namespace qf;

namespace {

using namespace qf::bench;
using namespace std::chrono_literals;

constexpr double FramesPerSecond = 45.0;
constexpr auto ReaderPoll = 5ms;
constexpr int BeyondOneIn = 9; // records; the next one comes back inside
constexpr quint32 Seed = 17;
constexpr QLatin1String Inside("  21.5");
constexpr QLatin1String Beyond("  31.5");

constexpr double KiBPerMiB = 1024.0;

struct Phase {
    std::vector<double> commits; // ms per commit
    std::vector<double> raised;  // ms from a beyond record's commit to its raised event
    double cpuPercent = 0;
    std::map<qint64, Clock::time_point> beyond; // rowid of a beyond record -> its commit's return
};

// Commits at 45 frames/s for the given time; with alarms, one record in
// BeyondOneIn goes beyond the limit and the next comes back, and the
// journal is watched for each raise.
Phase commitAtLineRate(RecordLog &log, qint64 &rowid, std::chrono::seconds duration, bool alarms,
                       std::optional<qint64> servicePid, const QString &journalPath)
{
    Phase phase;
    QRandomGenerator random(Seed);
    bool wasBeyond = false;
    std::optional<qf::AlarmJournalReader> journal;
    qint64 lastEvent = 0;
    if (servicePid) {
        journal.emplace(journalPath);
        lastEvent = journal->newestEventId();
    }
    std::map<qint64, Clock::time_point> waiting; // rowid of a beyond record -> its commit's return
    const Seconds cpuBefore = servicePid ? processCpu(*servicePid) : Seconds(0);
    const auto period =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / FramesPerSecond));
    const auto start = Clock::now();
    auto nextCommit = start;
    auto nextPoll = start;
    while (Clock::now() - start < duration || (!waiting.empty() && Clock::now() - start < duration + 5s)) {
        const auto now = Clock::now();
        if (now >= nextCommit && now - start < duration) {
            const bool beyond = alarms && !wasBeyond && random.bounded(BeyondOneIn) == 0;
            wasBeyond = beyond;
            log.commit({beyond ? Beyond : Inside, Inside, Inside, QStringLiteral("  0.5")});
            const auto done = Clock::now();
            phase.commits.push_back(Ms(done - now).count());
            if (++rowid; beyond && journal)
                waiting[rowid] = done;
            if (beyond)
                phase.beyond[rowid] = done;
            nextCommit += period;
        }
        if (journal && now >= nextPoll) {
            for (const qf::AlarmEvent &event : journal->eventsAfter(lastEvent, 1000)) {
                lastEvent = event.id;
                const auto found = event.recordRowid ? waiting.find(*event.recordRowid) : waiting.end();
                if (event.kind == qf::AlarmEventKind::Raised && found != waiting.end()) {
                    phase.raised.push_back(Ms(Clock::now() - found->second).count());
                    waiting.erase(found);
                }
            }
            nextPoll = Clock::now() + ReaderPoll;
        }
        QThread::usleep(500);
    }
    if (servicePid)
        phase.cpuPercent = 100.0 * (processCpu(*servicePid) - cpuBefore) / Seconds(Clock::now() - start);
    return phase;
}

// The child: the trend viewer's alarm summary over the store's journal.
// Prints "ROWID NS" (the beyond record, the steady clock shared by the
// processes of this machine) each time its table shows Sensor1's H alarm
// waiting for acknowledgement after a raise by another record, and
// acknowledges the alarm once it has returned. A raise and its clear that
// come between two polls show as one returned row: its record is the one
// before the clear's (in this benchmark the record after a beyond one comes
// back).
int showSummary(const QString &dir)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "quillfern-bench-alarms";
    char *argv[] = {name, nullptr};
    QApplication app(argc, argv);
    qf::AlarmWatch watch(storeFilePath(dir));
    qf::AlarmSummary summary(watch);
    summary.show();
    constexpr qf::AlarmId watched{1, qf::AlarmKind::High};
    qint64 shown = 0;
    const auto rowShown = [&summary] {
        const QTableWidget &table = *summary.table();
        for (int row = 0; row < table.rowCount(); ++row) {
            const QString state = table.item(row, 4)->text();
            if (table.item(row, 0)->text() == QLatin1String("Sensor1") &&
                (state == QLatin1String("unacknowledged") || state == QLatin1String("returned")))
                return true;
        }
        return false;
    };
    // After the summary's own handler: its table is up to date.
    QObject::connect(&watch, &qf::AlarmWatch::alarmsChanged, [&] {
        const qf::AlarmStatus &status = watch.states()[std::size_t(qf::alarmIndex(watched))];
        if (!qf::unacknowledged(status.state) || !rowShown())
            return;
        const bool returned = status.state == qf::AlarmState::Returned;
        const qint64 raisedBy = status.recordRowid.value_or(0) - (returned ? 1 : 0);
        if (raisedBy != shown) {
            shown = raisedBy;
            std::printf("%lld %lld\n", static_cast<long long>(raisedBy),
                        static_cast<long long>(Clock::now().time_since_epoch().count()));
            std::fflush(stdout);
        }
        if (returned)
            watch.acknowledge({watched});
    });
    return QApplication::exec();
}

// The delays from the beyond records' commits to the lines of showSummary.
std::vector<double> rowDelays(const QByteArray &lines, const Phase &phase)
{
    std::vector<double> delays;
    for (const QByteArray &line : lines.split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(' ');
        if (fields.size() != 2)
            continue;
        const auto commit = phase.beyond.find(fields[0].toLongLong());
        const Clock::time_point shown{Clock::duration(fields[1].toLongLong())};
        if (commit != phase.beyond.end())
            delays.push_back(Ms(shown - commit->second).count());
    }
    return delays;
}

void printCommits(const char *what, const Phase &phase)
{
    std::printf("station commit latency %s: p50 %.2f ms, p99 %.2f ms (%zu commits)\n", what,
                percentile(phase.commits, 0.5), percentile(phase.commits, 0.99), phase.commits.size());
}

} // namespace

int main(int argc, char *argv[])
{
    if (const auto dir = childArgument(argc, argv, "--viewer"))
        return showSummary(*dir);
    QCoreApplication app(argc, argv);
    Options options;
    options.add("seconds", "Seconds of each phase.", "S", "30");
    options.add("dir", "Directory of the store (default: a temporary one).", "DIR");
    options.process(app);
    const std::chrono::seconds duration(options.integer("seconds"));
    const QString dir = options.directory("dir");
    const QString store = storeFilePath(dir);
    QFile::remove(store);
    QFile::remove(qf::alarmJournalPath(store));
    createStore(store);
    QFile limits(QDir(dir).filePath(QStringLiteral("quillfern.ini")));
    if (!limits.open(QIODevice::WriteOnly) || limits.write("[Sensor1]\nhigh=30\n") < 0)
        return 1;
    limits.close();

    FakeMessageBoxes boxes;
    RecordLog log(dir, boxes);
    log.openStore();
    log.listAllRecords();
    qint64 rowid = 0;
    printCommits("without the service", commitAtLineRate(log, rowid, duration, false, std::nullopt, {}));

    Child service(Child::Read::ErrorLines);
    if (!service.start(program(QStringLiteral("quillfern-alarms")), {dir}) ||
        !service.waitForLine(" follows "))
        return 1;
    const qint64 pid = service.pid();
    const QString journal = qf::alarmJournalPath(store);

    const Phase quiet = commitAtLineRate(log, rowid, duration, false, pid, journal);
    std::printf("service CPU at %.0f frames/s, every value inside: %.2f %% of a core\n", FramesPerSecond,
                quiet.cpuPercent);
    printCommits("with the service, every value inside", quiet);
    const Phase alarms = commitAtLineRate(log, rowid, duration, true, pid, journal);
    std::printf("commit to raised event in the journal: p50 %.0f ms, p99 %.0f ms, max %.0f ms (%zu raises)\n",
                percentile(alarms.raised, 0.5), percentile(alarms.raised, 0.99),
                percentile(alarms.raised, 1.0), alarms.raised.size());
    std::printf("service CPU at %.0f frames/s, a raise and a clear in about %d records: %.2f %% of a core\n",
                FramesPerSecond, BeyondOneIn, alarms.cpuPercent);
    printCommits("with the service, raising and clearing", alarms);
    std::printf("service memory: peak %.1f MB (VmHWM), now %.1f MB (VmRSS)\n",
                double(procFigure("status", "VmHWM:", pid)) / KiBPerMiB,
                double(procFigure("status", "VmRSS:", pid)) / KiBPerMiB);

    Child viewer(Child::Read::Output);
    if (!viewer.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--viewer"), dir}))
        return 1;
    const Seconds viewerCpuBefore = processCpu(viewer.pid());
    const auto viewerStart = Clock::now();
    const Phase viewed = commitAtLineRate(log, rowid, duration, true, pid, journal);
    const double viewerCpu =
        100.0 * (processCpu(viewer.pid()) - viewerCpuBefore) / Seconds(Clock::now() - viewerStart);
    viewer.stop();
    const std::vector<double> rows = rowDelays(viewer.output(0ms), viewed);
    std::printf("commit to row in the viewer's summary: p50 %.0f ms, p99 %.0f ms, max %.0f ms (%zu of %zu "
                "raises)\n",
                percentile(rows, 0.5), percentile(rows, 0.99), percentile(rows, 1.0), rows.size(),
                viewed.beyond.size());
    std::printf("commit to raised event in the journal, the viewer open: p50 %.0f ms, p99 %.0f ms\n",
                percentile(viewed.raised, 0.5), percentile(viewed.raised, 0.99));
    std::printf("viewer CPU (the summary following the journal, acknowledging): %.2f %% of a core\n",
                viewerCpu);
    printCommits("with the service and the viewer, raising and clearing", viewed);
    service.stop();
    return 0;
}
