// quillfern-bench-recordlog: start-up, scrolling, commit and delete-all of the
// record log on stores of one and ten million records, built with the store
// tool's fill code.
//
//   quillfern-bench-recordlog [--dir DIR] [--sizes 1000000,10000000]
//
// Stores are built in DIR/<size>/velk.mdb (a temporary directory by
// default; an existing store of the right size in DIR is reused). Start-up is
// measured in a fresh child process of this program, which also reports its
// peak resident memory (VmHWM).

#include "common/messageboxes.h"
#include "grid/flexgridview.h"
#include "recordlog/recordlog.h"
#include "store/storemaintenance.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Ms = std::chrono::duration<double, std::milli>;
using Clock = std::chrono::steady_clock;

// The window's grid is 6975 x 8775 twips.
constexpr int GridWidth = 465;
constexpr int GridHeight = 585;
constexpr int ScrollSamples = 200;
constexpr int CommitSamples = 1000;

class AnswerNo : public MessageBoxes {
public:
    int msgBox(const QString &, int, const QString &) override { return MsgAnswer::No; }
    int showNotice(const QString &, int, const QString &) override { return 0; }
    void closeNotice(int) override {}
};

long statusKb(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(qstrlen(key)).trimmed().split(' ').front().toLong();
    }
    return -1;
}

// The record log opened and listed as the window's start-up does it, with
// its grid shown at the window's size.
struct ShownLog {
    explicit ShownLog(const QString &dir) : log(dir, boxes)
    {
        log.setFlex();
        log.fillGrid();
        view.resize(GridWidth, GridHeight);
        view.show();
        QCoreApplication::processEvents();
    }
    AnswerNo boxes;
    RecordLog log;
    FlexGridView view{log.fg()}; // made before the load, as in the window
};

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.at(std::min(v.size() - 1, std::size_t(p * double(v.size()))));
}

// The child: start-up as the window does it, up to the first painted screen.
int startupChild(const QString &dir, Clock::time_point started, int argc, char **argv)
{
    QApplication app(argc, argv);
    ShownLog shown(dir);
    RecordLog &log = shown.log;
    FlexGridView &view = shown.view;
    view.viewport()->repaint();
    const double ms = Ms(Clock::now() - started).count();
    const QString first = log.fg().TextMatrix(view.topRow(), 0);
    std::printf("startup_ms=%.1f hwm_kb=%ld rows=%d first_shown=%s total=\"%s\"\n", ms, statusKb("VmHWM:"),
                log.fg().Rows(), qPrintable(first), qPrintable(log.totalrec().text()));
    return 0;
}

void ensureStore(const QString &dir, qint64 records)
{
    QDir().mkpath(dir);
    const QString path = storeFilePath(dir);
    if (QFile::exists(path)) {
        AnswerNo boxes;
        RecordLog log(dir, boxes);
        log.setFlex();
        log.fillGrid();
        if (log.fg().Rows() - 2 == records)
            return;
        for (const char *suffix : {"", "-wal", "-shm"})
            QFile::remove(path + QLatin1String(suffix));
    }
    const auto t0 = Clock::now();
    createStore(path);
    fillStore(path, records);
    std::printf("  fill: %lld records in %.1f s\n", records, Ms(Clock::now() - t0).count() / 1000);
}

void startup(const QString &self, const QString &dir)
{
    for (int run = 0; run < 3; ++run) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(env);
        QElapsedTimer wall;
        wall.start();
        child.start(self, {QStringLiteral("--startup"), dir});
        child.waitForFinished(120000);
        std::printf("  start-up run %d: %s   (process wall %lld ms)\n", run + 1,
                    child.readAllStandardOutput().trimmed().constData(), wall.elapsed());
    }
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
        if (log.fg().TextMatrix(view.topRow(), 0) != QString::number(to + 1))
            ++wrong;
    }
    std::printf(
        "  scroll to random positions (%d): median %.2f ms, p99 %.2f ms, max %.2f ms, wrong rows %d\n",
        ScrollSamples, percentile(times, 0.5), percentile(times, 0.99), percentile(times, 1.0), wrong);
}

void commits(RecordLog &log)
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
    std::printf("  commit (grid row + durable append, %d): median %.3f ms, p90 %.3f ms, max %.2f ms\n",
                CommitSamples, percentile(times, 0.5), percentile(times, 0.9), percentile(times, 1.0));
}

void deleteAll(RecordLog &log)
{
    const auto t0 = Clock::now();
    log.delRec();
    std::printf("  delete-all (delRec: delete, clear, reopen): %.0f ms; %s\n", Ms(Clock::now() - t0).count(),
                qPrintable(log.totalrec().text()));
}

} // namespace

int main(int argc, char *argv[])
{
    const auto started = Clock::now();
    if (argc == 3 && qstrcmp(argv[1], "--startup") == 0)
        return startupChild(QString::fromLocal8Bit(argv[2]), started, 1, argv);

    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption(
        {QStringLiteral("dir"), QStringLiteral("Where the stores are built."), QStringLiteral("DIR")});
    parser.addOption({QStringLiteral("sizes"), QStringLiteral("Store sizes, comma-separated."),
                      QStringLiteral("N,..."), QStringLiteral("1000000,10000000")});
    parser.process(app);

    QTemporaryDir temp;
    const QString base =
        parser.isSet(QStringLiteral("dir")) ? parser.value(QStringLiteral("dir")) : temp.path();
    for (const QString &size : parser.value(QStringLiteral("sizes")).split(QLatin1Char(','))) {
        const qint64 records = size.toLongLong();
        const QString dir = QDir(base).filePath(size);
        std::printf("store of %lld records (%s)\n", records, qPrintable(dir));
        std::fflush(stdout);
        ensureStore(dir, records);
        startup(QCoreApplication::applicationFilePath(), dir);

        ShownLog shown(dir);
        scrolling(shown.log, shown.view);
        commits(shown.log);
        deleteAll(shown.log);
        std::fflush(stdout);
    }
    return 0;
}
