// The journal keeps what the engine had, field by field, and its reader
// gives the events back by id and by time.

#include "alarms/alarmjournal.h"
#include "alarms/journalreader.h"
#include "alarms/limitsfile.h"

#include <QTemporaryDir>
#include <QTest>

using namespace qf;

class TestAlarmJournal : public QObject {
    Q_OBJECT
private slots:
    void keepsTheEnginesStateAndEvents()
    {
        const RealTime start(
            std::chrono::milliseconds(QDateTime(QDate(2026, 12, 7), QTime(8, 0)).toMSecsSinceEpoch()));
        const auto at = [&](int ms) { return start + std::chrono::milliseconds(ms); };
        AlarmEngine engine(
            parseLimits("[Sensor1]\nhigh=30\nlow=10\ndelay=5\n[Sensor2]\nhighHigh=1\n", "t.ini"));
        engine.take({1, at(0), {31, 2, std::nullopt, 0}}, at(1));      // H waits for its delay, HH raised
        engine.take({2, at(500), {std::nullopt, 0.5, 5, 0}}, at(501)); // HH cleared, returned
        engine.shelve({1, AlarmKind::Low}, std::chrono::minutes(5), QStringLiteral("op"), at(777));
        QTemporaryDir dir;
        const QString path = alarmJournalPath(dir.filePath(QStringLiteral("velk.mdb")));
        std::vector<AlarmEvent> events = engine.takeEvents();
        {
            AlarmJournal journal(path, AlarmJournal::Open::CreateIfMissing);
            QVERIFY(journal.isNew());
            AlarmJournal::Transaction transaction(journal);
            journal.write(events, engine.snapshot(), "mark");
            transaction.commit();
        }
        AlarmJournal journal(path, AlarmJournal::Open::Existing);
        QVERIFY(!journal.isNew());
        const AlarmJournal::Kept kept = journal.load();
        QCOMPARE(kept.mark, QByteArray("mark"));
        QVERIFY(kept.snapshot == engine.snapshot());

        AlarmJournalReader reader(path);
        QCOMPARE(reader.identity(), journal.identity());
        QCOMPARE(reader.identity().size(), 36); // a UUID
        QVERIFY(reader.states() == engine.snapshot().statuses);
        const std::vector<AlarmEvent> read = reader.eventsAfter(0, 100);
        QVERIFY(read == events);
        QCOMPARE(events.front().id, qint64(1));
        QVERIFY(reader.eventsAfter(1, 1) == std::vector<AlarmEvent>(events.begin() + 1, events.begin() + 2));
        QVERIFY(reader.eventsBetween(at(501), at(778)) ==
                std::vector<AlarmEvent>(events.begin() + 1, events.end()));
        QVERIFY(reader.eventsBetween(std::nullopt, at(501)) ==
                std::vector<AlarmEvent>(events.begin(), events.begin() + 1));
        QVERIFY(!reader.changed());
        journal.operate(
            {}, [](AlarmEngine &e) { e.acknowledge({}, QStringLiteral("op"), RealTime{}); }, at(900));
        QVERIFY(reader.changed());
    }
};

QTEST_GUILESS_MAIN(TestAlarmJournal)
#include "tst_alarmjournal.moc"
