// quillfern-bench-trend: the trend viewer's figures on stores made by
// `quillfern-store fill` (ten and a hundred million records and more).
//
//   quillfern-bench-trend [--dir DIR] [--sizes 10000000,100000000] [--seconds S]
//
// Stores are made in DIR/<size>/velk.mdb (a temporary directory by default;
// a store of the right size there is reused; a hundred million records take
// about 7 GB and the cache 2.5 GB more). Opening is measured in fresh child
// processes of this program: without the cache file (the build), with it
// while its pages are in the file cache (warm), and with them dropped from
// it (cold: posix_fadvise DONTNEED on the store and the cache). Each child
// paints the whole history, zooms into one hour of its middle, then zooms
// and pans, and reports its peak memory (VmHWM, mapped pages included).
// Following is measured here: a station thread commits 45 records a second
// through the record log while the viewer polls the store as its window
// does.

#include "bench/support/benchsupport.h"
#include "recordlog/recordlog.h"
#include "store/storemaintenance.h"
#include "support/fakes.h"
#include "trend/trendfeed.h"
#include "trend/trendplotdata.h"
#include "trendview/trendplot.h"
#include "trendview/trendwindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using namespace qf;

namespace {

using namespace qf::bench;

constexpr QSize ViewSize(1200, 700);
constexpr int RedrawSteps = 200;
constexpr double ZoomStep = 0.8;
constexpr double PanStep = 0.1;
constexpr std::chrono::microseconds FramePeriod(1'000'000 / 45); // 45 frames a second
constexpr double HalfHour = 1800;

// Child: open, paint the whole history once, zoom into one hour of its
// middle, then zoom and pan from the whole history.
int openAndRedraw(const QString &dir)
{
    const auto start = Clock::now();
    TrendFeed feed(storeFilePath(dir));
    const bool cached = feed.load();
    TrendPlot plot(feed.data());
    plot.resize(ViewSize);
    plot.replot(QCustomPlot::rpImmediateRefresh);
    plot.showWholeHistory();
    plot.toPixmap(ViewSize.width(), ViewSize.height());
    const double openMs = Ms(Clock::now() - start).count();
    const double openCpu = processCpu().count();

    const auto [first, last] = wholeRange(feed.data());
    const double middle = (first + last) / 2;
    const auto hourStart = Clock::now();
    plot.showRange(middle - HalfHour, middle + HalfHour);
    plot.replot(QCustomPlot::rpImmediateRefresh);
    const double hourMs = Ms(Clock::now() - hourStart).count();
    feed.saveCache();

    plot.showWholeHistory();
    QRandomGenerator random(1);
    std::vector<double> redraws;
    for (int i = 0; i < RedrawSteps; ++i) {
        const QCPRange range = plot.visibleRange();
        const auto stepStart = Clock::now();
        if (i % 2 == 0) { // zoom in or out around a random point
            const double at = range.lower + range.size() * random.generateDouble();
            const double factor = (i / 2) % 8 < 4 ? ZoomStep : 1 / ZoomStep;
            plot.showRange(at - (at - range.lower) * factor, at + (range.upper - at) * factor);
        } else { // pan
            const double shift = range.size() * PanStep * (random.bounded(2) ? 1 : -1);
            plot.showRange(range.lower + shift, range.upper + shift);
        }
        plot.replot(QCustomPlot::rpImmediateRefresh);
        redraws.push_back(Ms(Clock::now() - stepStart).count());
    }
    std::printf("%d %.1f %.1f %.1f %lld %.1f\n", cached ? 1 : 0, openMs, hourMs, percentile(redraws, 0.95),
                procFigure("status", "VmHWM:"), openCpu);
    return 0;
}

struct OpenFigures {
    bool cached = false;
    double openMs = 0;
    double hourMs = 0;
    double redrawP95 = 0;
    long long peakKb = 0;
    double openCpu = 0; // seconds of CPU up to the first view
};

OpenFigures runChild(const QString &dir)
{
    const QList<QByteArray> f =
        runToEnd(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), dir}).split(' ');
    if (f.size() != 6)
        return {};
    return {f[0] == "1",     f[1].toDouble(),   f[2].toDouble(),
            f[3].toDouble(), f[4].toLongLong(), f[5].toDouble()};
}

// Drops the pages of the store and the cache file from the file cache (the
// files written back first), as after a restart of the machine.
void dropFileCache(const QString &dir)
{
    const QString store = storeFilePath(dir);
    for (const QString &path :
         {store, store + QStringLiteral("-wal"), store + QStringLiteral("-shm"), trendCachePath(store)}) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        ::fdatasync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

bool makeStore(const QString &dir, qint64 size)
{
    const QString path = storeFilePath(dir);
    if (QFile::exists(path))
        return true;
    QDir().mkpath(dir);
    const QString tool = program(QStringLiteral("quillfern-store"));
    std::fprintf(stderr, "filling %s with %lld records...\n", qPrintable(path), size);
    return QProcess::execute(tool, {QStringLiteral("create"), dir}) == 0 &&
           QProcess::execute(tool, {QStringLiteral("fill"), QString::number(size), dir}) == 0;
}

struct FollowFigures {
    double commitMeanAlone = 0, commitP95Alone = 0;
    double commitMeanFollowed = 0, commitP95Followed = 0;
    double appearP95 = 0, appearMax = 0;
    double viewerCpuPercent = 0;
};

// The station: commits a frame every FramePeriod for the given time, noting
// when each commit returned and how long it took.
void station(const QString &dir, std::chrono::milliseconds duration, std::vector<double> &commitMs,
             std::vector<Clock::time_point> &committedAt, std::mutex &lock)
{
    FakeMessageBoxes boxes;
    RecordLog log(dir, boxes);
    log.openStore();
    const auto end = Clock::now() + duration;
    for (auto next = Clock::now(); next < end; next += FramePeriod) {
        std::this_thread::sleep_until(next);
        const auto start = Clock::now();
        log.commit({QStringLiteral("  21.5"), QStringLiteral("  22"), QStringLiteral("  7"),
                    QStringLiteral("  0.5")});
        const auto done = Clock::now();
        const std::lock_guard guard(lock);
        commitMs.push_back(Ms(done - start).count());
        committedAt.push_back(done);
    }
}

FollowFigures follow(const QString &dir, int seconds)
{
    FollowFigures figures;
    const std::chrono::milliseconds duration(seconds * 1000);
    std::mutex lock;
    {
        std::vector<double> commitMs;
        std::vector<Clock::time_point> at;
        station(dir, duration, commitMs, at, lock);
        figures.commitMeanAlone = mean(commitMs);
        figures.commitP95Alone = percentile(commitMs, 0.95);
    }
    TrendFeed feed(storeFilePath(dir));
    feed.load();
    TrendPlot plot(feed.data());
    plot.resize(ViewSize);
    plot.replot(QCustomPlot::rpImmediateRefresh);
    plot.showWholeHistory();
    const qint64 before = feed.data().size();

    std::vector<double> commitMs, appearMs;
    std::vector<Clock::time_point> committedAt;
    std::thread stationThread(station, dir, duration, std::ref(commitMs), std::ref(committedAt),
                              std::ref(lock));
    double viewerCpu = 0;
    const auto start = Clock::now();
    QTimer poll;
    poll.setInterval(TrendWindow::PollInterval);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const auto cpuStart = threadCpu();
        const qint64 seen = feed.data().size();
        if (feed.poll() != TrendFeed::Change::None) {
            plot.dataChanged();
            plot.replot(QCustomPlot::rpImmediateRefresh);
        }
        viewerCpu += Ms(threadCpu() - cpuStart).count();
        const auto now = Clock::now();
        const std::lock_guard guard(lock);
        for (qint64 i = seen; i < feed.data().size(); ++i)
            if (std::size_t(i - before) < committedAt.size())
                appearMs.push_back(Ms(now - committedAt[std::size_t(i - before)]).count());
    });
    poll.start();
    QTimer::singleShot(duration + TrendWindow::PollInterval * 2, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    const double elapsed = Ms(Clock::now() - start).count();
    stationThread.join();
    figures.commitMeanFollowed = mean(commitMs);
    figures.commitP95Followed = percentile(commitMs, 0.95);
    figures.appearP95 = percentile(appearMs, 0.95);
    figures.appearMax = percentile(appearMs, 1.0);
    figures.viewerCpuPercent = 100 * viewerCpu / elapsed;
    return figures;
}

} // namespace

int main(int argc, char *argv[])
{
    if (const auto dir = childArgument(argc, argv, "--child")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        return openAndRedraw(*dir);
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Options options;
    options.add(QStringLiteral("dir"), QStringLiteral("Where the stores are made."), QStringLiteral("DIR"));
    options.add(QStringLiteral("sizes"), QStringLiteral("Store sizes."), QStringLiteral("N,N"),
                QStringLiteral("10000000"));
    options.add(QStringLiteral("seconds"), QStringLiteral("Length of each follow phase."),
                QStringLiteral("S"), QStringLiteral("5"));
    options.process(app);
    const QString base = options.directory(QStringLiteral("dir"));
    const QStringList sizes = options.list(QStringLiteral("sizes"));
    const int seconds = int(options.integer(QStringLiteral("seconds")));

    QStringList head{QStringLiteral("figure"), QStringLiteral("target")};
    for (const QString &size : sizes)
        head.append(size + QStringLiteral(" records"));
    printTableHead(head);
    std::vector<OpenFigures> built, warm, cold;
    std::vector<FollowFigures> follows;
    for (const QString &size : sizes) {
        const QString dir = base + QLatin1Char('/') + size;
        if (!makeStore(dir, size.toLongLong()))
            return 1;
        QFile::remove(trendCachePath(storeFilePath(dir)));
        dropFileCache(dir);
        built.push_back(runChild(dir));
        warm.push_back(runChild(dir));
        dropFileCache(dir);
        cold.push_back(runChild(dir));
        follows.push_back(follow(dir, seconds));
    }
    auto row = [&](const char *figure, const char *target, const std::function<QString(std::size_t)> &cell) {
        QStringList cells{QLatin1String(figure), QLatin1String(target)};
        for (std::size_t i = 0; i < std::size_t(sizes.size()); ++i)
            cells.append(cell(i));
        printTableRow(cells);
    };
    auto ms = [](double v) { return QString::number(v, 'f', 0) + QStringLiteral(" ms"); };
    auto unused = [](const OpenFigures &f) {
        return f.cached ? QString() : QStringLiteral(" (cache NOT used)");
    };
    row("open to first whole-history view, cache present, cold file cache", "1 s",
        [&](std::size_t i) { return ms(cold[i].openMs) + unused(cold[i]); });
    row("the same, warm", "300 ms", [&](std::size_t i) { return ms(warm[i].openMs) + unused(warm[i]); });
    row("zoom or pan step, p95", "50 ms", [&](std::size_t i) {
        return ms(std::max({built[i].redrawP95, warm[i].redrawP95, cold[i].redrawP95}));
    });
    row("zoom into one hour from the whole history, first paint (cold / warm)", "200 ms",
        [&](std::size_t i) { return ms(cold[i].hourMs) + QStringLiteral(" / ") + ms(warm[i].hourMs); });
    row("peak memory (VmHWM, mapped pages included): build / warm / cold", "100 MB / 250 MB",
        [&](std::size_t i) {
            QStringList peaks;
            for (const auto *f : {&built[i], &warm[i], &cold[i]})
                peaks.append(QString::number(double(f->peakKb) / 1024, 'f', 0));
            return peaks.join(QStringLiteral(" / ")) + QStringLiteral(" MB");
        });
    row("cache build from the store, no cache (cold store), to the first view (CPU)", "2 min",
        [&](std::size_t i) {
            return QString::number(built[i].openMs / 1000, 'f', 1) + QStringLiteral(" s (") +
                   QString::number(built[i].openCpu, 'f', 1) + QStringLiteral(" s)");
        });
    row("committed record appears in the followed view, p95 / max", "1 s", [&](std::size_t i) {
        return ms(follows[i].appearP95) + QStringLiteral(" / ") + ms(follows[i].appearMax);
    });
    row("viewer CPU while following 45 frames/s", "10 % of a core", [&](std::size_t i) {
        return QString::number(follows[i].viewerCpuPercent, 'f', 1) + QStringLiteral(" %");
    });
    row("station commit mean / p95, viewer closed", "-", [&](std::size_t i) {
        return QString::number(follows[i].commitMeanAlone, 'f', 2) + QStringLiteral(" / ") +
               QString::number(follows[i].commitP95Alone, 'f', 2) + QStringLiteral(" ms");
    });
    row("station commit mean / p95, viewer following", "unchanged", [&](std::size_t i) {
        return QString::number(follows[i].commitMeanFollowed, 'f', 2) + QStringLiteral(" / ") +
               QString::number(follows[i].commitP95Followed, 'f', 2) + QStringLiteral(" ms");
    });
    return 0;
}
