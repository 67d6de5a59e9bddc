// The alarms' state machine, driven by scripts of records, operator actions
// and the passing of time; each row checks the events made and where the
// alarms of sensor 1 (and the station's silence) end up.

#include "alarms/alarmengine.h"
#include "alarms/limitsfile.h"

#include <QTest>

using namespace qf;

namespace {

constexpr RealTime Start{std::chrono::hours(24 * 20000)};

// "high=30 delay=5" as a limits file: the keys of sensor 1, silentAfter the
// station's.
AlarmLimits limitsOf(const QString &keys)
{
    QByteArray sensor = "[Sensor1]\n";
    QByteArray station = "[Station]\n";
    for (const QString &key : keys.split(u' ', Qt::SkipEmptyParts))
        (key.startsWith(QLatin1String("silentAfter")) ? station : sensor) += key.toUtf8() + '\n';
    return parseLimits(station + sensor, QStringLiteral("test.ini"));
}

// Steps: V@T a record of sensor 1 (V "-" a null) stamped T seconds after
// the start, which is also the time it is taken; ack; shelve:MINUTES;
// wait:SECONDS (then tick); limits:KEYS,KEYS (commas for spaces).
// Events: "raised H 1" (the kind, the alarm, the record's rowid if any).
QString run(AlarmEngine &engine, const QString &steps)
{
    RealTime now = Start;
    qint64 rowid = 0;
    for (const QString &step : steps.split(u' ', Qt::SkipEmptyParts)) {
        const QString argument = step.section(u':', 1);
        if (step.contains(u'@')) {
            now = Start + std::chrono::seconds(step.section(u'@', 1).toInt());
            Reading reading{++rowid, now, {}};
            if (step.section(u'@', 0, 0) != QLatin1String("-"))
                reading.values[0] = step.section(u'@', 0, 0).toDouble();
            engine.take(reading, now);
        } else if (step == QLatin1String("ack")) {
            engine.acknowledge({}, QStringLiteral("op"), now);
        } else if (step.startsWith(QLatin1String("shelve:"))) {
            engine.shelve({1, std::nullopt}, std::chrono::minutes(argument.toInt()), QStringLiteral("op"),
                          now);
        } else if (step.startsWith(QLatin1String("wait:"))) {
            now += std::chrono::seconds(argument.toInt());
            engine.tick(now);
        } else if (step.startsWith(QLatin1String("limits:"))) {
            engine.setLimits(limitsOf(QString(argument).replace(u',', u' ')), now);
        } else {
            qFatal("unknown step %s", qPrintable(step));
        }
    }
    QStringList events;
    for (const AlarmEvent &event : engine.takeEvents())
        events += (QStringList{alarmEventText(event.kind), alarmKindText(event.alarm.kind)} +
                   (event.recordRowid ? QStringList{QString::number(*event.recordRowid)} : QStringList()))
                      .join(u' ');
    return events.join(QStringLiteral(", "));
}

// The states that are not normal: "H unacknowledged, silent returned".
QString states(const AlarmEngine &engine)
{
    QStringList states;
    for (int index = 0; index < AlarmCount; ++index)
        if (engine.snapshot().statuses[std::size_t(index)].state != AlarmState::Normal)
            states += alarmKindText(alarmAt(index).kind) + u' ' +
                      alarmStateText(engine.snapshot().statuses[std::size_t(index)].state);
    return states.join(QStringLiteral(", "));
}

} // namespace

class TestAlarmEngine : public QObject {
    Q_OBJECT
private slots:
    void transitions_data()
    {
        QTest::addColumn<QString>("limits");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("states");
        // Limits and deadband.
        QTest::newRow("beyond a high limit raises, back inside clears") << "high=30"
                                                                        << "29@0 31@1 29@2"
                                                                        << "raised H 2, cleared H 3"
                                                                        << "H returned";
        QTest::newRow("the limit itself is inside") << "high=30 low=10"
                                                    << "30@0 10@1"
                                                    << ""
                                                    << "";
        QTest::newRow("high clears only inside by the deadband") << "high=30 deadband=2"
                                                                 << "31@0 29@1 28.5@2 28@3"
                                                                 << "raised H 1, cleared H 4"
                                                                 << "H returned";
        QTest::newRow("low clears only inside by the deadband") << "low=10 deadband=1"
                                                                << "9@0 10.5@1 11@2"
                                                                << "raised L 1, cleared L 3"
                                                                << "L returned";
        QTest::newRow("a value beyond both high limits raises both, each clears by itself")
            << "high=30 highHigh=40"
            << "41@0 35@1 29@2"
            << "raised HH 1, raised H 1, cleared HH 2, cleared H 3"
            << "HH returned, H returned";
        QTest::newRow("low and lowLow") << "low=10 lowLow=0"
                                        << "-1@0 5@1"
                                        << "raised L 1, raised LL 1, cleared LL 2"
                                        << "L unacknowledged, LL returned";
        // Delay, counted in the records' time stamps.
        QTest::newRow("delay: raises once beyond for the delay") << "high=30 delay=5"
                                                                 << "31@0 31@3 31@5 31@6"
                                                                 << "raised H 3"
                                                                 << "H unacknowledged";
        QTest::newRow("delay: a value inside starts it again") << "high=30 delay=5"
                                                               << "31@0 29@4 31@5 31@9 31@10"
                                                               << "raised H 5"
                                                               << "H unacknowledged";
        QTest::newRow("delay: a value in the deadband starts it again") << "high=30 delay=5 deadband=2"
                                                                        << "31@0 29@4 31@5 31@10"
                                                                        << "raised H 4"
                                                                        << "H unacknowledged";
        QTest::newRow("delay: the clear is at once") << "high=30 delay=5"
                                                     << "31@0 31@5 29@6"
                                                     << "raised H 2, cleared H 3"
                                                     << "H returned";
        // Nulls.
        QTest::newRow("a null changes nothing while active") << "high=30"
                                                             << "31@0 -@1 -@2"
                                                             << "raised H 1"
                                                             << "H unacknowledged";
        QTest::newRow("a null keeps the delay running") << "high=30 delay=5"
                                                        << "31@0 -@3 31@5"
                                                        << "raised H 3"
                                                        << "H unacknowledged";
        // Acknowledgement in each state.
        QTest::newRow("ack active: acknowledged, then normal when it clears")
            << "high=30"
            << "31@0 ack 29@1"
            << "raised H 1, acknowledged H, cleared H 2"
            << "";
        QTest::newRow("ack active stays until cleared") << "high=30"
                                                        << "31@0 ack 31@1"
                                                        << "raised H 1, acknowledged H"
                                                        << "H acknowledged";
        QTest::newRow("ack returned: normal") << "high=30"
                                              << "31@0 29@1 ack"
                                              << "raised H 1, cleared H 2, acknowledged H"
                                              << "";
        QTest::newRow("ack normal or acknowledged: nothing") << "high=30"
                                                             << "ack 31@0 ack ack"
                                                             << "raised H 1, acknowledged H"
                                                             << "H acknowledged";
        QTest::newRow("returned raises again unacknowledged") << "high=30"
                                                              << "31@0 29@1 31@2"
                                                              << "raised H 1, cleared H 2, raised H 3"
                                                              << "H unacknowledged";
        // Shelving.
        QTest::newRow("shelved: silent while it goes beyond and back") << "high=30"
                                                                       << "shelve:10 31@0 29@1 31@2"
                                                                       << "shelved H"
                                                                       << "H shelved";
        QTest::newRow("ack on a shelved alarm: nothing") << "high=30"
                                                         << "31@0 shelve:10 ack"
                                                         << "raised H 1, shelved H"
                                                         << "H shelved";
        QTest::newRow("shelving runs out: still beyond raises anew")
            << "high=30"
            << "31@0 shelve:1 31@30 wait:29 wait:1"
            << "raised H 1, shelved H, unshelved H, raised H 1"
            << "H unacknowledged";
        QTest::newRow("shelving runs out: inside again is normal") << "high=30"
                                                                   << "31@0 shelve:1 29@30 wait:30"
                                                                   << "raised H 1, shelved H, unshelved H"
                                                                   << "";
        QTest::newRow("shelve for 0 unshelves at once") << "high=30"
                                                        << "shelve:10 31@0 shelve:0"
                                                        << "shelved H, unshelved H, raised H 1"
                                                        << "H unacknowledged";
        QTest::newRow("shelving lasts at most 8 hours") << "high=30"
                                                        << "31@0 shelve:100000 wait:28799 ack wait:1"
                                                        << "raised H 1, shelved H, unshelved H, raised H 1"
                                                        << "H unacknowledged";
        // Limits that change.
        QTest::newRow("a limit taken away clears its alarm") << "high=30 low=10"
                                                             << "31@0 limits:low=10"
                                                             << "raised H 1, cleared H"
                                                             << "H returned";
        QTest::newRow("a new limit raises with the next record") << ""
                                                                 << "31@0 limits:high=30 31@1"
                                                                 << "raised H 2"
                                                                 << "H unacknowledged";
        // The station's silence.
        QTest::newRow("silent after the time without a record, cleared by the next")
            << "silentAfter=60"
            << "20@0 wait:59 wait:1 20@61"
            << "raised silent, cleared silent 2"
            << "silent returned";
    }
    void transitions()
    {
        QFETCH(QString, limits);
        QFETCH(QString, steps);
        QFETCH(QString, events);
        QFETCH(QString, states);
        AlarmEngine engine(limitsOf(limits));
        QCOMPARE(run(engine, steps), events);
        QCOMPARE(::states(engine), states);
    }
};

QTEST_GUILESS_MAIN(TestAlarmEngine)
#include "tst_alarmengine.moc"
