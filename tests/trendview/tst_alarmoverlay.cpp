// The limits as lines in their sensor's plot, named as quillfern.ini says,
// taken into the value axes, and following an edit of the file.

#include "alarms/limitsfile.h"
#include "trendview/alarmoverlay.h"

#include <QTemporaryDir>
#include <QTest>

using namespace qf;

namespace {

// "Feed (bar) H 80" per line across a plot, with the name of the sensor
// whose value axis it is drawn on.
QStringList limitLines(TrendPlot &plot)
{
    QStringList lines;
    for (int i = 0; i < plot.itemCount(); ++i) {
        const auto *line = qobject_cast<QCPItemStraightLine *>(plot.item(i));
        if (!line || !line->visible())
            continue;
        for (int sensor = 0; sensor < schema::SensorCount; ++sensor) {
            QCPGraph *graph = plot.sensorGraph(sensor);
            if (line->clipAxisRect() == graph->keyAxis()->axisRect() &&
                line->pen().color() == graph->pen().color())
                lines += QStringLiteral("%1 %2").arg(graph->name()).arg(line->point1->value());
        }
    }
    lines.sort();
    return lines;
}

} // namespace

class TestAlarmOverlay : public QObject {
    Q_OBJECT
private slots:
    void drawsTheLimitsOfEachSensorInItsPlot()
    {
        QTemporaryDir dir;
        const QString iniPath = limitsFilePath(dir.path());
        AlarmLimits limits = AlarmLimits::defaults();
        limits.sensor(2) = {QStringLiteral("Feed"), QStringLiteral("bar"), 90, 80};
        limits.sensor(4).lowLow = -5;
        writeLimitsFile(iniPath, limits);
        TrendData data;
        TrendPlot plot(data);
        plot.resize(800, 500);
        AlarmWatch watch(dir.filePath(QStringLiteral("velk.mdb")));
        AlarmOverlay overlay(plot, watch);
        plot.replot();
        QCOMPARE(limitLines(plot), QStringList({"Feed (bar) 80", "Feed (bar) 90", "Sensor4 -5"}));
        QVERIFY(plot.sensorGraph(1)->valueAxis()->range().contains(90));
        QVERIFY(plot.sensorGraph(3)->valueAxis()->range().contains(-5));

        limits.sensor(2).highHigh.reset();
        limits.sensor(4).lowLow.reset();
        writeLimitsFile(iniPath, limits);
        QTRY_COMPARE(limitLines(plot), QStringList({"Feed (bar) 80"}));
    }
};

QTEST_MAIN(TestAlarmOverlay)
#include "tst_alarmoverlay.moc"
