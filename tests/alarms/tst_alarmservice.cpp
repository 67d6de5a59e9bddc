// quillfern-alarms as a program beside a store the station's own commit
// path writes (and once beside the whole station on a simulated device):
// the journal's events, the commands while the service runs, kill -9 at
// random moments, limits edited badly while it runs, and what it refuses.

#include "acquisition/qtserialcomm.h"
#include "alarms/alarmjournal.h"
#include "alarms/journalreader.h"
#include "app/station.h"
#include "support/storefixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QProcess>
#include <QRandomGenerator>

#include <memory>
#include <optional>

#include <signal.h>
#include <sys/prctl.h>

using namespace qf;

namespace {

constexpr int CatchUpMs = 20000;
constexpr int KillRounds = 12;
constexpr int MaxCommitsPerRound = 8;
constexpr int MaxPauseMs = 40;

QString program(const QString &name)
{
    return qEnvironmentVariable("QF_BIN_DIR") + u'/' + name;
}

void writeLimits(const StoreFixture &store, const QByteArray &text)
{
    QFile file(QDir(store.dir()).filePath(QStringLiteral("quillfern.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
}

// quillfern-alarms with its arguments: exit status, standard output and error.
struct Run {
    int status = -1;
    QString out;
    QString err;
};
Run runAlarms(const QStringList &arguments)
{
    QProcess process;
    process.start(program(QStringLiteral("quillfern-alarms")), arguments);
    process.waitForFinished(CatchUpMs);
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// The journal's events: "1 H raised 4" (sensor, alarm, event, record).
QStringList journalEvents(const StoreFixture &store)
{
    AlarmJournalReader journal(alarmJournalPath(store.path()));
    QStringList events;
    for (const AlarmEvent &event : journal.eventsAfter(0, 100000))
        events += QStringLiteral("%1 %2 %3%4")
                      .arg(event.alarm.sensor)
                      .arg(alarmKindText(event.alarm.kind), alarmEventText(event.kind),
                           event.recordRowid ? QStringLiteral(" %1").arg(*event.recordRowid) : QString());
    return events;
}

// The service running on a store's directory, its standard error kept.
class Service {
public:
    explicit Service(const StoreFixture &store)
    {
        m_process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_process.start(program(QStringLiteral("quillfern-alarms")), {store.dir()});
    }
    ~Service()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    QString said()
    {
        m_said += QString::fromUtf8(m_process.readAllStandardError());
        return m_said;
    }
    bool started() { return said().contains(QLatin1String(" follows ")); }
    void kill()
    {
        m_process.kill();
        QVERIFY(m_process.waitForFinished());
    }
    // SIGTERM: a clean exit with status 0.
    void stop()
    {
        QTRY_VERIFY_WITH_TIMEOUT(started(), CatchUpMs); // its signals are taken from then on
        m_process.terminate();
        QVERIFY(m_process.waitForFinished());
        QCOMPARE(std::pair(m_process.exitStatus(), m_process.exitCode()), std::pair(QProcess::NormalExit, 0));
    }

private:
    QProcess m_process;
    QString m_said;
};

// The station's commit path with a clock one second further each commit,
// so that no two records look alike to the follower.
struct Committer {
    explicit Committer(const StoreFixture &store) : listed(store)
    {
        listed.log.setClock([this] { return m_clock = m_clock.addSecs(1); });
    }
    void commit(const QString &temp1, const QString &temp2 = QStringLiteral("  20"))
    {
        listed.log.commit({temp1, temp2, QStringLiteral("  20"), QStringLiteral("  0.5")});
    }
    ListedLog listed;
    QDateTime m_clock = QDateTime(QDate(2026, 12, 7), QTime(8, 0));
};

} // namespace

class TestAlarmService : public QObject {
    Q_OBJECT
private slots:
    // Raises and clears as the records come, nothing of the records before
    // its first run; an acknowledgement given with the command while it runs
    // is taken (the alarm then clears to normal, not to returned); a restart
    // goes on after the last record it evaluated.
    void followsTheStoreAndTheOperator()
    {
        StoreFixture store;
        store.create(3);
        writeLimits(store, "[Sensor1]\nhigh=30\ndeadband=1\n[Sensor2]\nlow=0\n");
        Committer station(store);
        station.commit(QStringLiteral("  99"));
        std::optional<Service> service(store);
        QTRY_VERIFY_WITH_TIMEOUT(service->started(), CatchUpMs);
        station.commit(QStringLiteral("  31"), QStringLiteral("  5"));
        station.commit(QStringLiteral("  29.5"), QStringLiteral("  -1"));
        station.commit(QStringLiteral("  28"), QStringLiteral("  1e999")); // a null
        QTRY_COMPARE_WITH_TIMEOUT(journalEvents(store),
                                  QStringList({"1 H raised 5", "2 L raised 6", "1 H cleared 7"}), CatchUpMs);
        const Run ack = runAlarms({QStringLiteral("ack"), QStringLiteral("2"), store.dir()});
        QCOMPARE(ack.status, 0);
        QVERIFY2(ack.out.contains(QLatin1String(" Sensor2 L acknowledged by ")), qPrintable(ack.out));
        station.commit(QStringLiteral("  20"), QStringLiteral("  5"));
        QTRY_COMPARE_WITH_TIMEOUT(journalEvents(store).mid(3),
                                  QStringList({"2 L acknowledged", "2 L cleared 8"}), CatchUpMs);
        // The service prints another writer's events once it has taken them.
        for (const char *line : {"Sensor1 H raised: 31 \u00b0C beyond 30 \u00b0C (record 5, priority medium)",
                                 "Sensor1 H cleared: 28 \u00b0C (record 7)", "Sensor2 L acknowledged by "})
            QTRY_VERIFY2_WITH_TIMEOUT(service->said().contains(QString::fromUtf8(line)), line, CatchUpMs);
        const QStringList listed = runAlarms({QStringLiteral("list"), store.dir()}).out.split(u'\n');
        QCOMPARE(listed.size(), 3); // the header, one alarm, the last line's end
        QVERIFY2(listed.at(1).startsWith(QStringLiteral("Sensor1 H  returned  28 \u00b0C  30 \u00b0C  ")),
                 qPrintable(listed.at(1)));
        service->stop();
        station.commit(QStringLiteral("  31"));
        service.emplace(store);
        QTRY_COMPARE_WITH_TIMEOUT(journalEvents(store).size(), 6, CatchUpMs);
        QCOMPARE(journalEvents(store).last(), "1 H raised 9");
    }

    // Killed at random moments while records come (and once across a
    // delete-all): at the end the journal holds exactly one event per
    // record, each for the record that made it.
    void killAtRandomMomentsLosesAndDoublesNothing()
    {
        StoreFixture store;
        store.create();
        writeLimits(store, "[Sensor1]\nhigh=30\n");
        Committer station(store);
        std::optional<Service> service(store);
        QTRY_VERIFY_WITH_TIMEOUT(service->started(), CatchUpMs); // the first run's place
        const quint32 seed = QRandomGenerator::global()->generate();
        qInfo("seed %u", seed);
        QRandomGenerator random(seed);
        QStringList expected;
        qint64 rowid = 0;
        for (int round = 0; round < KillRounds; ++round) {
            service.emplace(store);
            if (round == KillRounds / 2) {
                QTRY_COMPARE_WITH_TIMEOUT(journalEvents(store), expected, CatchUpMs); // none deleted unread
                station.listed.boxes.answerNext(MsgAnswer::Yes);
                station.listed.log.confirmDeleteAll();
                QTRY_VERIFY(!station.listed.log.deleting());
                rowid = 0;
            }
            for (int i = int(random.bounded(MaxCommitsPerRound)); i >= 0; --i) {
                const bool beyond = expected.size() % 2 == 0;
                station.commit(beyond ? QStringLiteral("  31") : QStringLiteral("  29"));
                expected += QStringLiteral("1 H %1 %2").arg(beyond ? "raised" : "cleared").arg(++rowid);
                QTest::qWait(int(random.bounded(MaxPauseMs)));
            }
            service->kill();
        }
        service.emplace(store);
        QTRY_COMPARE_WITH_TIMEOUT(journalEvents(store), expected, CatchUpMs);
        service->stop();
    }

    // A bad edit is said once and kept out (the old limit still raises); a
    // good one is taken.
    void badLimitsWhileRunning()
    {
        StoreFixture store;
        store.create();
        writeLimits(store, "[Sensor1]\nhigh=30\n");
        Committer station(store);
        Service service(store);
        QTRY_VERIFY_WITH_TIMEOUT(service.started(), CatchUpMs);
        writeLimits(store, "[Sensor1]\nhigh=3O\n");
        QTRY_VERIFY_WITH_TIMEOUT(
            service.said().contains(
                QLatin1String("quillfern.ini:2: [Sensor1] high: \"3O\" is not a number; the limits stay")),
            CatchUpMs);
        station.commit(QStringLiteral("  31"));
        QTRY_COMPARE_WITH_TIMEOUT(journalEvents(store), QStringList({"1 H raised 1"}), CatchUpMs);
        writeLimits(store, "[Sensor1]\nhigh=40\n");
        QTRY_VERIFY_WITH_TIMEOUT(service.said().contains(QLatin1String("limits taken")), CatchUpMs);
        station.commit(QStringLiteral("  35"));
        QTRY_COMPARE_WITH_TIMEOUT(journalEvents(store), QStringList({"1 H raised 1", "1 H cleared 2"}),
                                  CatchUpMs);
        QCOMPARE(service.said().count(QLatin1String("is not a number")), 1);
        service.stop();
    }

    void refusals_data()
    {
        QTest::addColumn<QStringList>("arguments"); // DIR follows
        QTest::addColumn<QByteArray>("limits");
        QTest::addColumn<bool>("foreignJournal");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::newRow("no store") << QStringList() << QByteArray() << false << 1 << "error 3024";
        QTest::newRow("bad quillfern.ini")
            << QStringList() << QByteArray("[Sensor2]\nhigh=4\nlow=5\n") << false << 2
            << "quillfern.ini:3: [Sensor2] low: low (5) must be below high (4)";
        QTest::newRow("another database as the journal")
            << QStringList() << QByteArray() << true << 1 << "velk.mdb.alarms is not an alarm journal";
        QTest::newRow("shelving too long") << QStringList({"shelve", "1", "481"}) << QByteArray() << false
                                           << 2 << "\"481\" is not 0 to 480 minutes";
        QTest::newRow("no such sensor")
            << QStringList({"ack", "5"}) << QByteArray() << false << 2 << "\"5\" names no sensor or alarm";
    }
    void refusals()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, limits);
        QFETCH(bool, foreignJournal);
        QFETCH(int, status);
        QFETCH(QString, said);
        StoreFixture store;
        if (status == 2 || foreignJournal)
            store.create();
        if (!limits.isEmpty())
            writeLimits(store, limits);
        if (foreignJournal) {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("foreign"));
            db.setDatabaseName(alarmJournalPath(store.path()));
            QVERIFY(db.open() && QSqlQuery(db).exec(QStringLiteral("CREATE TABLE other (x)")));
            db.close();
        }
        const Run run = runAlarms(arguments + QStringList{store.dir()});
        QVERIFY2(run.err.contains(said), qPrintable(run.err));
        QCOMPARE(run.status, status);
        QSqlDatabase::removeDatabase(QStringLiteral("foreign"));
    }

    // The whole station on the simulated device playing a reading over the
    // limit and back: the service raises and clears for those records, and
    // an acknowledgement leaves no current alarm.
    void stationOnAPlayedDevice()
    {
        StoreFixture store;
        store.create();
        writeLimits(store, "[Sensor3]\nhigh=30\n");
        const QString frames = QDir(store.dir()).filePath(QStringLiteral("frames.txt"));
        QFile file(frames);
        QVERIFY(file.open(QIODevice::WriteOnly) &&
                file.write("20,20,20,0.5\n20,20,35,0.5\n20,20,20,0.5\n") > 0);
        file.close();
        Service service(store);
        QTRY_VERIFY_WITH_TIMEOUT(service.started(), CatchUpMs);
        QProcess device;
        device.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
        device.start(program(QStringLiteral("quillfern-devsim")),
                     {"--dir", store.dir(), "--interval", "50", "--frames", "3", "--play", frames});
        QTRY_VERIFY(QFileInfo(QDir(store.dir()).filePath(QStringLiteral("COM1"))).isSymLink());
        QtSerialComm comm(store.dir());
        FakeMessageBoxes boxes;
        FakeErrorReport report;
        Station station(comm, store.dir(), boxes, report, [](int) { QFAIL("the program ended"); });
        QVERIFY(station.startUp());
        station.form().show();
        QTest::mouseClick(station.form().control<QAbstractButton>(QStringLiteral("Start")), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(journalEvents(store), QStringList({"3 H raised 2", "3 H cleared 3"}),
                                  CatchUpMs);
        QCOMPARE(runAlarms({QStringLiteral("ack"), QStringLiteral("all"), store.dir()}).status, 0);
        QCOMPARE(runAlarms({QStringLiteral("list"), store.dir()}).out, "no current alarms\n");
        service.stop();
    }
};

QTEST_MAIN(TestAlarmService)
#include "tst_alarmservice.moc"
