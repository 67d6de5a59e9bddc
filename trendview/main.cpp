// quillfern-trend [--png FILE] [--from TIME] [--to TIME] [--size WxH] [DIR]
//
// Plots the four sensors of the store velk.mdb in DIR (default: the
// program's own directory) against time and follows the station's new
// records. With --png it draws the picture of [--from, --to] (default: the
// whole history) into FILE without a display and exits.

#include "common/error.h"
#include "store/storemaintenance.h"
#include "store/storetext.h"
#include "trend/trendfeed.h"
#include "trend/trendplotdata.h"
#include "trendview/alarmoverlay.h"
#include "trendview/trendplot.h"
#include "trendview/trendwindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QSize>

#include <cstdio>

using namespace qf;

namespace {

constexpr QSize DefaultPictureSize(1200, 700);
constexpr QSize DefaultWindowSize(1200, 750);

struct Options {
    QString dir;
    QString png;
    QString from;
    QString to;
    QSize size = DefaultPictureSize;
};

// A time given on the command line: the stored form or ISO 8601, local time.
std::optional<double> parseMoment(const QString &text)
{
    QDateTime moment = parseStoredDateTime(text);
    if (!moment.isValid())
        moment = QDateTime::fromString(text, Qt::ISODate);
    if (!moment.isValid())
        return std::nullopt;
    return double(moment.toSecsSinceEpoch());
}

int usageError(const QString &text)
{
    std::fprintf(stderr, "quillfern-trend: %s\n", qPrintable(text));
    return 2;
}

int renderPicture(TrendFeed &feed, const Options &options)
{
    std::optional<double> from, to;
    if (!options.from.isEmpty() && !(from = parseMoment(options.from)))
        return usageError(QStringLiteral("--from: not a date and time: %1").arg(options.from));
    if (!options.to.isEmpty() && !(to = parseMoment(options.to)))
        return usageError(QStringLiteral("--to: not a date and time: %1").arg(options.to));
    feed.load();
    feed.saveCache();
    TrendPlot plot(feed.data());
    AlarmWatch alarms(feed.store().path());
    AlarmOverlay overlay(plot, alarms);
    // A widget never shown gets no resize event: the plot's viewport, and
    // with it the pixel columns the records are gathered into, is set here.
    plot.resize(options.size);
    plot.setViewport(plot.rect());
    plot.replot();
    const auto draw = [&] {
        const auto [first, last] = wholeRange(feed.data());
        plot.showRange(from.value_or(first), to.value_or(last));
    };
    draw();
    if (feed.data().damaged()) { // a damaged cache file: read the store again
        std::fprintf(stderr, "quillfern-trend: the cache file %s is damaged; it is built again\n",
                     qPrintable(feed.cachePath()));
        feed.restart();
        feed.catchUp();
        feed.takeBuilt();
        feed.saveCache();
        draw();
    }
    if (const QString problem = feed.cacheProblem(); !problem.isEmpty())
        std::fprintf(stderr, "quillfern-trend: the cache file %s is not written: %s\n",
                     qPrintable(feed.cachePath()), qPrintable(problem));
    if (!plot.savePng(options.png, options.size.width(), options.size.height()))
        return usageError(QStringLiteral("cannot write %1").arg(options.png));
    return 0;
}

int runWindow(TrendFeed &feed)
{
    TrendWindow window(feed);
    window.resize(DefaultWindowSize);
    window.show();
    window.start();
    return QApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    const bool headless = [&] {
        for (int i = 1; i < argc; ++i) {
            if (qstrcmp(argv[i], "--png") == 0)
                return true;
        }
        return false;
    }();
    if (headless && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quillfern-trend"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Plots the sensors of the store velk.mdb against time."));
    parser.addHelpOption();
    parser.addOptions(
        {{QStringLiteral("png"), QStringLiteral("Draw the plot into FILE and exit."), QStringLiteral("FILE")},
         {QStringLiteral("from"), QStringLiteral("Start of the range drawn."), QStringLiteral("TIME")},
         {QStringLiteral("to"), QStringLiteral("End of the range drawn."), QStringLiteral("TIME")},
         {QStringLiteral("size"), QStringLiteral("Picture size."), QStringLiteral("WxH")}});
    parser.addPositionalArgument(QStringLiteral("DIR"), QStringLiteral("Directory of velk.mdb."));
    parser.process(app);

    Options options;
    const QStringList args = parser.positionalArguments();
    options.dir = args.isEmpty() ? QCoreApplication::applicationDirPath() : args.first();
    options.png = parser.value(QStringLiteral("png"));
    options.from = parser.value(QStringLiteral("from"));
    options.to = parser.value(QStringLiteral("to"));
    if (parser.isSet(QStringLiteral("size"))) {
        const QStringList parts = parser.value(QStringLiteral("size")).split(QLatin1Char('x'));
        const int w = parts.value(0).toInt(), h = parts.value(1).toInt();
        if (parts.size() != 2 || w <= 0 || h <= 0)
            return usageError(QStringLiteral("--size: expected WxH, e.g. 1200x700"));
        options.size = QSize(w, h);
    }

    try {
        TrendFeed feed(storeFilePath(options.dir));
        return headless ? renderPicture(feed, options) : runWindow(feed);
    } catch (const StationError &e) {
        const QString text = QStringLiteral("%1: %2").arg(e.error().number()).arg(e.error().description);
        std::fprintf(stderr, "quillfern-trend: %s\n", qPrintable(text));
        if (!headless)
            QMessageBox::critical(nullptr, QStringLiteral("Quillfern trend"), text);
        return 1;
    }
}
