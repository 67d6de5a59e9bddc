// quillfern-bench-recordlog: start-up, scrolling, commit and delete-all of the
// record log on stores of ten (and a hundred) million records, built with the
// store tool's fill code.
//
//   quillfern-bench-recordlog [--dir DIR] [--sizes 10000000,100000000]
//
// Stores are built in DIR/<size>/velk.mdb (a temporary directory by
// default; an existing store of the right size in DIR is reused). Start-up is
// measured in a fresh child process of this program, which also reports its
// peak resident memory (VmHWM) and the bytes it read while opening and
// listing the store: with a warm file cache, with a cold one (the kernel's
// caches dropped where this user may, else the store file's pages evicted),
// and once after the record count was made stale (a rebuild). Delete-all
// reports the longest the event loop went without turning meanwhile.

#include "bench/support/benchsupport.h"
#include "grid/flexgridview.h"
#include "recordlog/recordlog.h"
#include "store/storemaintenance.h"
#include "support/fakes.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QScrollBar>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using namespace qf;

namespace {

using namespace qf::bench;

// The window's grid is 6975 x 8775 twips.
constexpr int GridWidth = 465;
constexpr int GridHeight = 585;
constexpr int ScrollSamples = 200;
constexpr int CommitSamples = 1000;
constexpr int WarmRuns = 3;
constexpr int ColdRuns = 2;
constexpr std::chrono::milliseconds TickInterval{10};
constexpr std::chrono::minutes StartupDeadline{10};

// Bytes this process has read through read calls (rchar) and from storage
// (read_bytes).
std::pair<long long, long long> bytesRead()
{
    return {procFigure("io", "rchar:"), procFigure("io", "read_bytes:")};
}

// Drops the store's pages from the kernel's file cache: all caches where
// this user may, else the store files' own pages. Says which.
const char *coolStore(const QString &path)
{
    ::sync();
    QFile drop(QStringLiteral("/proc/sys/vm/drop_caches"));
    if (drop.open(QIODevice::WriteOnly) && drop.write("3\n") == 2 && drop.flush())
        return "drop_caches";
    for (const char *suffix : {"", "-wal", "-shm"}) {
        const int fd = ::open(QFile::encodeName(path + QLatin1String(suffix)).constData(), O_RDONLY);
        if (fd < 0)
            continue;
        ::fdatasync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
    return "fadvise";
}

// Drops triggers of the record count behind the station's back, as another
// program could.
void dropCountTriggers(const QString &path, const QStringList &triggers)
{
    const QString name = QStringLiteral("bench-stale");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.open();
        for (const QString &trigger : triggers)
            QSqlQuery(db).exec(QStringLiteral("DROP TRIGGER ") + trigger);
    }
    QSqlDatabase::removeDatabase(name);
}

// The record log opened and listed as the window's start-up does it, with
// its grid shown at the window's size.
struct ShownLog {
    explicit ShownLog(const QString &dir) : log(dir, boxes)
    {
        log.openStore();
        log.listAllRecords();
        view.resize(GridWidth, GridHeight);
        view.show();
        QCoreApplication::processEvents();
    }
    FakeMessageBoxes boxes;
    RecordLog log;
    FlexGridView view{log.grid()}; // made before the load, as in the window
};

// The child: start-up as the window does it, up to the first painted screen.
int startupChild(const QString &dir, Clock::time_point started, int argc, char **argv)
{
    QApplication app(argc, argv);
    const auto before = bytesRead();
    ShownLog shown(dir);
    RecordLog &log = shown.log;
    FlexGridView &view = shown.view;
    view.viewport()->repaint();
    const double ms = Ms(Clock::now() - started).count();
    const auto after = bytesRead();
    const QString first = log.grid().TextMatrix(view.topRow(), 0);
    std::printf("startup_ms=%.1f hwm_kb=%lld store_read_kb=%lld disk_read_kb=%lld rows=%d first_shown=%s "
                "total=\"%s\"\n",
                ms, procFigure("status", "VmHWM:"), (after.first - before.first) / 1024,
                (after.second - before.second) / 1024, log.grid().Rows(), qPrintable(first),
                qPrintable(log.total().text()));
    return 0;
}

void ensureStore(const QString &dir, qint64 records)
{
    QDir().mkpath(dir);
    const QString path = storeFilePath(dir);
    if (QFile::exists(path)) {
        FakeMessageBoxes boxes;
        RecordLog log(dir, boxes);
        log.openStore();
        log.listAllRecords();
        if (log.grid().Rows() - 2 == records)
            return;
        for (const char *suffix : {"", "-wal", "-shm"})
            QFile::remove(path + QLatin1String(suffix));
    }
    const auto t0 = Clock::now();
    createStore(path);
    fillStore(path, records);
    std::printf("  fill: %lld records in %.1f s\n", records, Ms(Clock::now() - t0).count() / 1000);
}

void startupRun(const QString &self, const QString &dir, const char *kind)
{
    Child child(Child::Read::Output);
    child.setEnv(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QElapsedTimer wall;
    wall.start();
    child.start(self, {QStringLiteral("--startup"), dir});
    const QByteArray figures = child.output(StartupDeadline);
    std::printf("  start-up %s: %s   (process wall %lld ms)\n", kind, figures.constData(), wall.elapsed());
    std::fflush(stdout);
}

void startup(const QString &self, const QString &dir)
{
    const QString path = storeFilePath(dir);
    startupRun(self, dir, "(warming)");
    for (int run = 0; run < WarmRuns; ++run)
        startupRun(self, dir, "warm");
    for (int run = 0; run < ColdRuns; ++run) {
        const char *how = coolStore(path);
        startupRun(self, dir, qPrintable(QStringLiteral("cold (%1)").arg(QLatin1String(how))));
    }
    dropCountTriggers(path, {QStringLiteral("logRecordCountInsert")});
    startupRun(self, dir, "with the count rebuilt (insert trigger dropped)");
}

void scrolling(RecordLog &log, FlexGridView &view)
{
    QScrollBar *bar = view.verticalScrollBar();
    std::vector<double> times;
    int wrong = 0;
    for (int i = 0; i < ScrollSamples; ++i) {
        const int to = int(QRandomGenerator::global()->bounded(bar->maximum() + 1));
        const auto t0 = Clock::now();
        bar->setValue(to);
        view.viewport()->repaint();
        times.push_back(Ms(Clock::now() - t0).count());
        if (log.grid().TextMatrix(view.topRow(), 0) != QString::number(to + 1))
            ++wrong;
    }
    std::printf(
        "  scroll to random positions (%d): median %.2f ms, p95 %.2f ms, max %.2f ms, wrong rows %d\n",
        ScrollSamples, percentile(times, 0.5), percentile(times, 0.95), percentile(times, 1.0), wrong);
}

void commits(RecordLog &log, const char *kind)
{
    std::vector<double> times;
    const std::array<QString, 4> labels{QStringLiteral("  25.3"), QStringLiteral("  26.1"),
                                        QStringLiteral("  3 4"), QStringLiteral("  0.75")};
    for (int i = 0; i < CommitSamples; ++i) {
        const auto t0 = Clock::now();
        log.commit(labels);
        times.push_back(Ms(Clock::now() - t0).count());
        QCoreApplication::processEvents();
    }
    std::printf("  commit (grid row + durable append, %d, %s): median %.3f ms, p99 %.3f ms, max %.2f ms\n",
                CommitSamples, kind, percentile(times, 0.5), percentile(times, 0.99), percentile(times, 1.0));
}

void deleteAll(RecordLog &log, FlexGridView &view)
{
    // The event loop turns while the delete runs: the ticks show how long it
    // went without.
    QTimer ticker;
    auto lastTick = Clock::now();
    double longestGap = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        longestGap = std::max(longestGap, Ms(now - lastTick).count());
        lastTick = now;
    });
    ticker.start(TickInterval);
    const auto t0 = Clock::now();
    lastTick = t0;
    log.deleteAllRecords();
    view.viewport()->repaint();
    const double ms = Ms(Clock::now() - t0).count();
    std::printf("  delete-all (deleteAllRecords until the empty grid is painted): %.0f ms; longest "
                "event-loop gap %.0f ms; "
                "%s, rows %d\n",
                ms, longestGap, qPrintable(log.total().text()), log.grid().Rows());
}

} // namespace

int main(int argc, char *argv[])
{
    const auto started = Clock::now();
    if (const auto dir = childArgument(argc, argv, "--startup"))
        return startupChild(*dir, started, 1, argv);

    QApplication app(argc, argv);
    Options options;
    options.add(QStringLiteral("dir"), QStringLiteral("Where the stores are built."), QStringLiteral("DIR"));
    options.add(QStringLiteral("sizes"), QStringLiteral("Store sizes, comma-separated."),
                QStringLiteral("N,..."), QStringLiteral("10000000"));
    options.process(app);

    const QString base = options.directory(QStringLiteral("dir"));
    for (const QString &size : options.list(QStringLiteral("sizes"))) {
        const qint64 records = size.toLongLong();
        const QString dir = QDir(base).filePath(size);
        std::printf("store of %lld records (%s)\n", records, qPrintable(dir));
        std::fflush(stdout);
        ensureStore(dir, records);
        startup(QCoreApplication::applicationFilePath(), dir);

        ShownLog shown(dir);
        scrolling(shown.log, shown.view);
        commits(shown.log, "with the count's triggers");
        // The same without them, for comparison; delete-all makes them anew.
        dropCountTriggers(storeFilePath(dir),
                          {QStringLiteral("logRecordCountInsert"), QStringLiteral("logRecordCountDelete")});
        commits(shown.log, "without them");
        std::fflush(stdout);
        deleteAll(shown.log, shown.view);
        std::fflush(stdout);
    }
    return 0;
}
