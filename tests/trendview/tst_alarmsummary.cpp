// The alarm summary over a journal written through the alarms library: its
// rows, following the journal while open, and the buttons' actions reaching
// the journal.

#include "alarms/alarmjournal.h"
#include "alarms/alarmtext.h"
#include "alarms/journalreader.h"
#include "alarms/limitsfile.h"
#include "trendview/alarmsummary.h"

#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace qf;

namespace {

// The journal's times: from a minute ago, so that a shelving has not run out.
RealTime at(int seconds)
{
    static const RealTime start = std::chrono::time_point_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now() - std::chrono::minutes(1));
    return start + std::chrono::seconds(seconds);
}

// Writes what the engine made since the last call as the service would.
void commit(AlarmEngine &engine, const QString &path)
{
    std::vector<AlarmEvent> events = engine.takeEvents();
    AlarmJournal journal(path, AlarmJournal::Open::CreateIfMissing);
    AlarmJournal::Transaction transaction(journal);
    journal.write(events, engine.snapshot(), "mark");
    transaction.commit();
}

// The table's rows, cells joined by '|'.
QStringList rows(const QTableWidget *table, const QList<int> &columns = {0, 1, 2, 4})
{
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row) {
        QStringList cells;
        for (const int column : columns)
            cells += table->item(row, column)->text();
        texts += cells.join(u'|');
    }
    return texts;
}

QPushButton *button(const QWidget &summary, const QString &text)
{
    for (QPushButton *button : summary.findChildren<QPushButton *>())
        if (button->text() == text)
            return button;
    qFatal("no button %s", qPrintable(text));
}

} // namespace

class TestAlarmSummary : public QObject {
    Q_OBJECT
private slots:
    // Opened before the service made its journal; the rows as written,
    // a raise while open, the bell's Silence, and the buttons' actions.
    void showsFollowsAndActsOnTheJournal()
    {
        QTemporaryDir dir;
        const QString store = dir.filePath(QStringLiteral("velk.mdb"));
        const QString journalPath = alarmJournalPath(store);
        const AlarmLimits limits = parseLimits(
            "[Sensor1]\nname=Boiler\nhigh=30\nlowLow=0\n[Sensor2]\nlow=10\n"
            "[Sensor3]\nhighHigh=50\npriority=high\n[Sensor4]\nhigh=9\nunit=mm/s\npriority=high\n",
            QStringLiteral("quillfern.ini"));
        writeLimitsFile(limitsFilePath(dir.path()), limits);
        AlarmWatch watch(store);
        AlarmSummary summary(watch);
        summary.show();
        QVERIFY(QTest::qWaitForWindowExposed(&summary));
        QCOMPARE(summary.table()->rowCount(), 0);
        QVERIFY(summary.findChild<QLabel *>()->text().startsWith(QStringLiteral("No alarm journal")));

        AlarmEngine engine(limits);
        const QString op = QStringLiteral("op");
        engine.take({1, at(0), {31.5, 20, 20, 1}}, at(0));  // Boiler H raised
        engine.take({2, at(1), {31.5, 5, 20, 1}}, at(1));   // Sensor2 L raised
        engine.acknowledge({2, AlarmKind::Low}, op, at(2)); // ... acknowledged
        engine.take({3, at(3), {31.5, 5, 60, 1}}, at(3));   // Sensor3 HH raised
        engine.take({4, at(4), {31.5, 5, 40, 1}}, at(4));   // ... returned
        engine.shelve({4, AlarmKind::High}, std::chrono::minutes(5), op, at(5));
        commit(engine, journalPath);
        QTRY_COMPARE(summary.table()->rowCount(), 4);
        const QString shelvedUntil =
            QDateTime::fromMSecsSinceEpoch((at(5) + std::chrono::minutes(5)).time_since_epoch().count())
                .toString(QStringLiteral("HH:mm"));
        QCOMPARE(
            rows(summary.table()),
            QStringList({"Sensor4|H 9 mm/s||shelved until " + shelvedUntil, "Sensor3|HH 50 °C|40 °C|returned",
                         "Sensor2|L 10 °C|5 °C|acknowledged", "Boiler|H 30 °C|31.5 °C|unacknowledged"}));
        QVERIFY(summary.newestLabel()->text().startsWith(QStringLiteral("Sensor3 HH 50 °C: 40 °C since ")));

        // Sensor3 (high) waits: the bell sounds until silenced, and again once raised anew.
        QPushButton *silence = button(summary, QStringLiteral("Silence"));
        QVERIFY(silence->isEnabled());
        QTest::mouseClick(silence, Qt::LeftButton);
        QVERIFY(!silence->isEnabled());
        // The selection (Sensor4 and Sensor3) stays with its alarms as the rows move.
        summary.table()->setRangeSelected({0, 0, 1, summary.table()->columnCount() - 1}, true);
        engine.take({5, at(6), {25, 5, 40, 1}}, at(6)); // Boiler H returned
        engine.take({6, at(7), {-1, 5, 60, 1}}, at(7)); // Boiler LL and Sensor3 HH raised
        commit(engine, journalPath);
        QTRY_COMPARE(summary.table()->rowCount(), 5);
        QCOMPARE(rows(summary.table()).mid(0, 2), QStringList({"Boiler|LL 0 °C|-1 °C|unacknowledged",
                                                               "Sensor3|HH 50 °C|60 °C|unacknowledged"}));
        QVERIFY(silence->isEnabled());

        // Acknowledge: the rows selected, by the login name; Acknowledge all: the rest.
        QTest::mouseClick(button(summary, QStringLiteral("Acknowledge")), Qt::LeftButton);
        AlarmJournalReader reader(journalPath);
        QCOMPARE(reader.states()[alarmIndex({3, AlarmKind::HighHigh})].state, AlarmState::Acknowledged);
        QCOMPARE(reader.states()[alarmIndex({1, AlarmKind::LowLow})].state, AlarmState::Unacknowledged);
        QCOMPARE(reader.states()[alarmIndex({1, AlarmKind::High})].state, AlarmState::Returned);
        const std::vector<AlarmEvent> last = reader.eventsAfter(reader.newestEventId() - 1, 1);
        QCOMPARE(last.front().kind, AlarmEventKind::Acknowledged);
        QCOMPARE(last.front().user, loginName());
        QVERIFY(!silence->isEnabled());
        QTest::mouseClick(button(summary, QStringLiteral("Acknowledge all")), Qt::LeftButton);
        QCOMPARE(rows(summary.table(), {0, 1, 4}).mid(0, 2),
                 QStringList({"Boiler|LL 0 °C|acknowledged", "Sensor3|HH 50 °C|acknowledged"}));
        QCOMPARE(rows(summary.table(), {0, 1}).mid(2), QStringList({"Sensor4|H 9 mm/s", "Sensor2|L 10 °C"}));
        QVERIFY(summary.newestLabel()->isHidden());
    }
};

QTEST_MAIN(TestAlarmSummary)
#include "tst_alarmsummary.moc"
