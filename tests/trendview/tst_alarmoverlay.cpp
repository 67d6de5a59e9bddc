// The limits as lines in their sensor's plot, named as quillfern.ini says,
// taken into the value axes, and following an edit of the file; the spans
// of active alarms from the journal's events, shaded beyond their limit.

#include "alarms/alarmjournal.h"
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
    void spansOfTheEvents_data()
    {
        QTest::addColumn<QString>("events"); // SENSOR:ALARM:EVENT@SECOND
        QTest::addColumn<QString>("spans");  // SENSOR:ALARM FROM-TO (TO empty while open)
        QTest::newRow("raised, cleared") << "1:H:raised@0 1:H:acknowledged@1 1:H:cleared@5"
                                         << "1:H 0-5";
        QTest::newRow("still active") << "1:H:raised@0 1:H:raised@2"
                                      << "1:H 0-";
        QTest::newRow("shelving ends it, unshelving raises anew")
            << "1:H:raised@0 1:H:shelved@2 1:H:unshelved@4 1:H:raised@4 1:H:cleared@6"
            << "1:H 0-2,1:H 4-6";
        QTest::newRow("alarms apart") << "1:H:raised@0 2:LL:raised@1 1:H:cleared@3"
                                      << "1:H 0-3,2:LL 1-";
        QTest::newRow("no such sensor") << "9:H:raised@0 0:silent:raised@1"
                                        << "0:silent 1-";
    }
    void spansOfTheEvents()
    {
        QFETCH(QString, events);
        QFETCH(QString, spans);
        AlarmSpans made;
        for (const QString &event : events.split(u' ')) {
            const QStringList parts = event.section(u'@', 0, 0).split(u':');
            made.take({0, RealTime(std::chrono::seconds(event.section(u'@', 1).toInt())),
                       AlarmId{parts[0].toInt(), *alarmKindFromText(parts[1])},
                       *alarmEventFromText(parts[2])});
        }
        QStringList texts;
        for (const AlarmSpan &span : made.spans())
            texts += QStringLiteral("%1:%2 %3-%4")
                         .arg(span.alarm.sensor)
                         .arg(alarmKindText(span.alarm.kind))
                         .arg(std::chrono::duration_cast<std::chrono::seconds>(span.from.time_since_epoch())
                                  .count())
                         .arg(span.to ? QString::number(std::chrono::duration_cast<std::chrono::seconds>(
                                                            span.to->time_since_epoch())
                                                            .count())
                                      : QString());
        QCOMPARE(texts.join(u','), spans);
    }

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

        // Sensor2's H raised: shaded in its plot from the top down to the limit.
        AlarmEngine engine(limits);
        const RealTime now =
            std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now());
        engine.take({1, now, {20, 85, 20, 1}}, now);
        const double nowSeconds = double(now.time_since_epoch().count()) / 1000;
        plot.showRange(nowSeconds - 60, nowSeconds + 60);
        std::vector<AlarmEvent> events = engine.takeEvents();
        AlarmJournal journal(alarmJournalPath(dir.filePath(QStringLiteral("velk.mdb"))),
                             AlarmJournal::Open::CreateIfMissing);
        AlarmJournal::Transaction transaction(journal);
        journal.write(events, engine.snapshot(), {});
        transaction.commit();
        const auto shade = [&]() -> QCPItemRect * {
            for (int i = 0; i < plot.itemCount(); ++i)
                if (auto *rect = qobject_cast<QCPItemRect *>(plot.item(i)))
                    return rect;
            return nullptr;
        };
        QTRY_VERIFY(shade());
        QCOMPARE(shade()->clipAxisRect(), plot.sensorGraph(1)->keyAxis()->axisRect());
        QCOMPARE(shade()->topLeft->coords().y(), 0.); // the plot's top
        QCOMPARE(shade()->bottomRight->coords().y(), 80.);

        limits.sensor(2).highHigh.reset();
        limits.sensor(4).lowLow.reset();
        writeLimitsFile(iniPath, limits);
        QTRY_COMPARE(limitLines(plot), QStringList({"Feed (bar) 80"}));
    }
};

QTEST_MAIN(TestAlarmOverlay)
#include "tst_alarmoverlay.moc"
