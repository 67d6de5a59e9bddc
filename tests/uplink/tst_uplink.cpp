// quillfern-uplink as a program, against a private PostgreSQL server and a
// store written by the station's own commit path: sequences of faults, after
// each of which the central table holds every record of every generation
// exactly once with the values the store holds.

#include "alarms/alarmjournal.h"
#include "support/storefixture.h"

#include <QProcess>
#include <QRandomGenerator>

#include <memory>
#include <optional>

#include <signal.h>
#include <sys/prctl.h>

using namespace qf;

namespace {

using namespace qf;

constexpr int CatchUpTimeoutMs = 20000;
constexpr int KillDelayMaxMs = 250;
constexpr qsizetype MaxKeptOutput = 1 << 16;

// What pgserver.sh printed; nothing when it failed.
std::optional<QString> serverScript(const QStringList &arguments)
{
    QProcess script;
    script.start(QStringLiteral(QF_PGSERVER), arguments);
    if (script.waitForFinished(60000) && script.exitCode() == 0)
        return QString::fromLocal8Bit(script.readAllStandardOutput()).trimmed();
    qWarning("pgserver.sh %s: %s", qPrintable(arguments.join(' ')),
             script.readAllStandardError().constData());
    return std::nullopt;
}
QString runServerScript(const QStringList &arguments)
{
    return serverScript(arguments).value_or(QString());
}

// The connection string of a database on the private server: %1 the
// server's socket directory, %2 the database.
constexpr const char *Conninfo = "host=%1 user=quillfern dbname=%2";

// One station: its store, its record log committing as the station does,
// the uplink programs beside it, and what the central table must hold.
class Station {
public:
    Station(QString server, QString database, QString name, qint64 prefill, const QString &settings)
        : m_server(std::move(server)), m_database(std::move(database)), m_name(std::move(name)),
          m_conninfo(QString(Conninfo).arg(m_server, m_database) + " " + settings)
    {
        m_store.create(prefill);
        m_log.emplace(m_store);
    }
    ~Station() { stopUplinks(false); }

    // Steps: commit:N, uplink, kill, term, pgstop, pgstart, delete,
    // said:TEXT (wait for a line of the uplink), notagain:TEXT (said at most
    // once so far), pause (for a random moment before a kill -9), check;
    // once:N (N rows in the central table, each record once, all of the
    // first generation), count:CONDITION=N (N rows meet an SQL condition),
    // stamp:TEXT (a record with that TimeAndDate, "null" for a null, written
    // behind the station's back), forget (the uplink's kept positions),
    // alarm:N (N events in the alarm journal), alarms:N (N events of this
    // station in the central table, each once).
    void step(const QString &step, const QString &argument)
    {
        if (step == "commit")
            commit(argument.toInt());
        else if (step == "once")
            QTRY_COMPARE_WITH_TIMEOUT(centralCount("generation = 1") + "|" + centralCount("true"),
                                      QStringList(4, argument).join('|'), CatchUpTimeoutMs);
        else if (step == "count")
            QTRY_COMPARE_WITH_TIMEOUT(centralCount(argument.section('=', 0, -2)).section('|', 0, 0),
                                      argument.section('=', -1), CatchUpTimeoutMs);
        else if (step == "stamp")
            m_store.sql({"INSERT INTO log VALUES ('odd', " +
                         (argument == "null" ? QString("NULL") : "'" + argument + "'") + ", 1, 2, 3, 4)"});
        else if (step == "alarm") {
            AlarmJournal journal(alarmJournalPath(m_store.path()), AlarmJournal::Open::CreateIfMissing);
            const AlarmJournal::Kept kept = journal.load();
            AlarmEvent event;
            event.alarm = {1, AlarmKind::High};
            std::vector<AlarmEvent> events(argument.toUInt(), event);
            AlarmJournal::Transaction transaction(journal);
            journal.write(events, kept.snapshot, kept.mark);
            transaction.commit();
        } else if (step == "alarms")
            QTRY_COMPARE_WITH_TIMEOUT(
                runServerScript({"query", m_server,
                                 "SELECT count(*), count(DISTINCT id) FROM quillfern_alarm "
                                 "WHERE station = '" +
                                     m_name + "'",
                                 m_database}),
                argument + "|" + argument, CatchUpTimeoutMs);
        else if (step == "forget")
            runServerScript({"run", m_server, m_database, "DELETE FROM quillfern_uplink_position"});
        else if (step == "notagain") {
            uplinkSaid(argument);
            QVERIFY2(m_stderr.count(argument) <= 1, qPrintable(m_stderr));
        } else if (step == "uplink")
            addUplink();
        else if (step == "kill" || step == "term")
            stopUplinks(step == "term");
        else if (step == "pgstop" || step == "pgstart")
            runServerScript({step.mid(2), m_server});
        else if (step == "delete") {
            m_sent += storeRows();
            ++m_generation;
            m_log->boxes.answerNext(MsgAnswer::Yes);
            m_log->log.confirmDeleteAll();
        } else if (step == "said")
            QTRY_VERIFY2_WITH_TIMEOUT(uplinkSaid(argument), qPrintable(m_stderr), CatchUpTimeoutMs);
        else if (step == "pause")
            QTest::qWait(QRandomGenerator::global()->bounded(KillDelayMaxMs));
        else if (step == "check") // every record of every generation, as the store held it
            QTRY_COMPARE_WITH_TIMEOUT(central(), m_sent + storeRows(), CatchUpTimeoutMs);
        else
            QFAIL(qPrintable("unknown step " + step));
    }

private:
    // Readings of 17 digits: a central value as the database prints it by
    // default, or rounded by the table, is not the reading stored.
    void commit(int count)
    {
        for (int i = 0; i < count; ++i) {
            const double reading = QRandomGenerator::global()->generateDouble() * 100;
            m_log->log.commit({"  " + QString::number(reading, 'g', 17), "  -3.25", "  7", "  1e999"});
        }
    }
    // One more uplink for this station (several run at once when a service
    // manager starts a new one before the old one has ended).
    void addUplink()
    {
        QProcess &uplink = *m_uplinks.emplace_back(std::make_unique<QProcess>());
        // An uplink left behind by a crashed test dies with it.
        uplink.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
        uplink.start(QString::fromLocal8Bit(qgetenv("QF_BIN_DIR")) + "/quillfern-uplink",
                     {"--station", m_name, "--db", m_conninfo, m_store.dir()});
        QVERIFY(uplink.waitForStarted());
    }
    // Kills every uplink, or terminates them: then each ends with status 0,
    // none having given up before.
    void stopUplinks(bool terminate)
    {
        for (const auto &uplink : m_uplinks) {
            if (terminate) {
                QVERIFY2(uplink->state() == QProcess::Running, uplink->readAllStandardError().constData());
                uplink->terminate();
            } else
                uplink->kill();
            QVERIFY(uplink->waitForFinished());
            collect(*uplink);
            if (terminate)
                QCOMPARE(std::pair(uplink->exitStatus(), uplink->exitCode()),
                         std::pair(QProcess::NormalExit, 0));
        }
        m_uplinks.clear();
    }
    // What the uplinks said so far, the running one's last.
    bool uplinkSaid(const QString &text)
    {
        if (!m_uplinks.empty())
            collect(*m_uplinks.back());
        return m_stderr.contains(text);
    }
    void collect(QProcess &uplink)
    {
        const QByteArray said = uplink.readAllStandardError();
        if (m_stderr.size() < MaxKeptOutput) // an uplink gone wild says too much
            m_stderr += QString::fromLocal8Bit(said);
    }
    // The central table's rows of this station as StoreFixture::sql gives
    // the store's: columns joined by '|', a null as NULL.
    QStringList central() const
    {
        return runServerScript(
                   {"query", m_server,
                    "SELECT generation, record_rowid, sr_no, to_char(time_and_date, 'YYYY-MM-DD "
                    "HH24:MI:SS'), temp1, temp2, temp3, temp4 FROM quillfern_log WHERE station = '" +
                        m_name + "' ORDER BY generation, record_rowid",
                    m_database})
            .split('\n', Qt::SkipEmptyParts);
    }
    // The rows of this station that meet condition, and their records.
    QString centralCount(const QString &condition) const
    {
        return runServerScript(
            {"query", m_server,
             "SELECT count(*), count(DISTINCT record_rowid) FROM quillfern_log WHERE station = '" + m_name +
                 "' AND " + condition,
             m_database});
    }
    QStringList storeRows() const
    {
        return m_store.column(QStringLiteral("SELECT %1, rowid, \"Sr No\", TimeAndDate, Temp1, Temp2, Temp3, "
                                             "Temp4 FROM log ORDER BY rowid")
                                  .arg(m_generation));
    }

    const QString m_server;
    const QString m_database;
    const QString m_name;
    const QString m_conninfo;
    StoreFixture m_store;
    std::optional<ListedLog> m_log;
    std::vector<std::unique_ptr<QProcess>> m_uplinks;
    QString m_stderr;
    QStringList m_sent; // rows of the generations deleted so far
    int m_generation = 1;
};

// A central table of the default shape with some columns' types changed.
QString centralTable(const QString &srNo, const QString &time, const QString &temp)
{
    return QString("CREATE TABLE quillfern_log (station text NOT NULL, generation integer NOT NULL, "
                   "record_rowid bigint NOT NULL, sr_no %1, time_and_date %2, temp1 %3, temp2 %3, temp3 %3, "
                   "temp4 %3, PRIMARY KEY (station, generation, record_rowid));")
        .arg(srNo, time, temp);
}
QString defaultTable()
{
    return centralTable("text", "timestamptz", "float8");
}
// A trigger on the central table that runs body for every new row.
QString trigger(const QString &body)
{
    return "CREATE FUNCTION fix() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN " + body +
           " RETURN NEW; END$$; CREATE TRIGGER fix BEFORE INSERT ON quillfern_log FOR EACH ROW EXECUTE "
           "FUNCTION fix();";
}

} // namespace

class TestUplink : public QObject {
    Q_OBJECT

private slots:
    // A private server for the whole test (the cleanup fixture removes it
    // when the test did not get that far).
    void initTestCase()
    {
        m_server = runServerScript({"create", QF_PG_RECORD, "fsync = off"});
        QVERIFY2(!m_server.isEmpty(), "the private PostgreSQL server did not start");
    }
    void cleanupTestCase() { runServerScript({"remove", m_server}); }
    // A sequence that failed may have left the server stopped.
    void cleanup()
    {
        if (QTest::currentTestFailed())
            runServerScript({"start", m_server});
    }

    void faultSequences_data()
    {
        QTest::addColumn<qint64>("prefill");
        QTest::addColumn<QString>("setup");    // SQL run in the case's own database first
        QTest::addColumn<QString>("settings"); // added to the connection string
        QTest::addColumn<QString>("steps");    // see Station::step
        QTest::newRow("server down at start")
            << 0LL << ""
            << ""
            << "pgstop, commit:20, uplink, said:unavailable, commit:5, pgstart, check, commit:5, check, term";
        QTest::newRow("server stopped and started mid-run")
            << 3000LL << ""
            << ""
            << "uplink, commit:10, check, pgstop, commit:30, said:unavailable, pgstart, check, term";
        // The later delete-alls happen while it follows, the last with more
        // records written again than before.
        QTest::newRow("delete-all while the uplink is down, more records after")
            << 0LL << ""
            << ""
            << "uplink, commit:10, check, kill, delete, commit:25, uplink, check, delete, commit:5, check, "
               "delete, commit:30, check, term";
        QTest::newRow("delete-all while the server is down")
            << 0LL << ""
            << ""
            << "uplink, commit:10, check, pgstop, delete, commit:4, pgstart, check, term";
        QTest::newRow("two uplinks of one station at once")
            << 5000LL << ""
            << ""
            << "uplink, uplink, commit:20, check, commit:20, check, term";
        const QString killRound = "uplink, pause, kill, commit:3, ";
        QTest::newRow("kill -9 at random moments during catch-up and follow")
            << 20000LL << ""
            << ""
            << killRound.repeated(25) + "uplink, check, kill, delete, commit:3, " + killRound.repeated(5) +
                   "uplink, check, term";
        QTest::newRow("alarm journal made while the uplink runs, uplink killed")
            << 0LL << ""
            << ""
            << "uplink, commit:3, alarm:2, alarms:2, kill, alarm:3, uplink, alarms:5, term";
        QTest::newRow("Kühl-1 over client_encoding=LATIN1") << 0LL << ""
                                                            << "client_encoding=LATIN1"
                                                            << "uplink, commit:5, check, term";

        // Central tables and settings under which the newest row differs from
        // the record as the store holds it: a restart goes on where it stopped.
        const QString restart = "uplink, commit:10, once:10, kill, commit:5, uplink, once:15, ";
        QTest::newRow("database with extra_float_digits=0")
            << 0LL << "ALTER DATABASE %db SET extra_float_digits = 0;"
            << "" << restart + "check, term";
        QTest::newRow("timestamp without time zone, server in another zone")
            << 0LL
            << "ALTER DATABASE %db SET timezone = 'America/New_York';" +
                   centralTable("text", "timestamp", "float8")
            << "" << restart + "check, term";
        QTest::newRow("sr_no char(8)")
            << 0LL << centralTable("char(8)", "timestamptz", "float8") << "" << restart + "term";
        for (const QString type : {"integer", "numeric(6,1)", "real"})
            QTest::addRow("temperatures as %s", qPrintable(type))
                << 0LL << centralTable("text", "timestamptz", type) << "" << restart + "term";
        QTest::newRow("a trigger that rounds")
            << 0LL << defaultTable() + trigger("NEW.temp1 := round(NEW.temp1::numeric, 1);") << ""
            << restart + "term";
        QTest::newRow("rows of an uplink that kept no position")
            << 0LL << ""
            << "" << restart + "kill, forget, commit:5, uplink, once:20, check, term";

        // Records whose stamp is not in the store's form arrive with the
        // others, at -infinity; one the database refuses is told once and
        // left out.
        QTest::newRow("partitioned table, odd stamps, a record refused")
            << 0LL
            << "CREATE TABLE quillfern_log (station text NOT NULL, generation integer NOT NULL, record_rowid "
               "bigint NOT NULL, sr_no text, time_and_date timestamptz NOT NULL, temp1 float8, temp2 float8, "
               "temp3 float8, temp4 float8, PRIMARY KEY (station, generation, record_rowid, time_and_date)) "
               "PARTITION BY RANGE (time_and_date); CREATE TABLE quillfern_log_rest PARTITION OF "
               "quillfern_log "
               "DEFAULT;" +
                   trigger("IF NEW.record_rowid = 3 THEN RAISE 'no record 3'; END IF;")
            << ""
            << "commit:3, stamp:garbage, stamp:null, uplink, once:4, count:time_and_date = '-infinity'=2, "
               "said:no record 3, kill, stamp:2026-02-30 10:00:00, uplink, once:5, term, notagain:no record "
               "3";

        // Faults that no retry mends: said plainly, retried with a longer
        // back-off, never a line per try.
        QTest::newRow("a trigger that refuses every record")
            << 0LL << defaultTable() + trigger("RAISE 'closed for maintenance';") << ""
            << "uplink, commit:5, said:times in a row, notagain:connected, term";
        QTest::newRow("statement_timeout=1") << 20000LL << ""
                                             << "options='-c statement_timeout=1'"
                                             << "uplink, said:times in a row, notagain:connected, term";
    }
    void faultSequences()
    {
        QFETCH(qint64, prefill);
        QFETCH(QString, setup);
        QFETCH(QString, settings);
        QFETCH(QString, steps);
        Station station(m_server, database(setup), QString::fromUtf8(QTest::currentDataTag()), prefill,
                        settings);
        for (const QString &step : steps.split(", ")) {
            station.step(step.section(':', 0, 0), step.section(':', 1, -1));
            if (QTest::currentTestFailed())
                return;
        }
    }

    // Status 1: the store is missing (whatever the server); 2: the store is
    // sound and the database refuses the uplink for good.
    void refusals_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("conninfo"); // %1 the server, %2 the database
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const QString base = Conninfo;
        QTest::newRow("no store, server down beside it")
            << "" << base + " host=/nonexistent" << 1 << "error 3024";
        QTest::newRow("bad connection string") << "" << base + " nonsense" << 2 << "bad connection string";
        QTest::newRow("unknown database") << "" << base + " dbname=quillfern_none" << 2 << "does not exist";
        QTest::newRow("unknown service") << "" << base + " service=quillfern_none" << 2 << "quillfern_none";
        QTest::newRow("password in the connection string")
            << "" << base + " password=secret" << 2 << "~/.pgpass";
        QTest::newRow("password in a URI") << ""
                                           << "postgresql://quillfern:secret@/%2?host=%1" << 2 << "~/.pgpass";
        QTest::newRow("read-only transactions")
            << "" << base + " options='-c default_transaction_read_only=on'" << 2 << "read-only";
        QTest::newRow("a column that cannot hold the temperatures")
            << centralTable("text", "timestamptz", "text") << base << 2 << "column temp1";
        QTest::newRow("a column that cannot hold a Sr No")
            << centralTable("integer", "timestamptz", "float8") << base << 2 << "column sr_no";
        QTest::newRow("a column the uplink cannot fill")
            << defaultTable() + "ALTER TABLE quillfern_log ADD line text NOT NULL;" << base << 2
            << "column line";
    }
    void refusals()
    {
        QFETCH(QString, setup);
        QFETCH(QString, conninfo);
        QFETCH(int, status);
        QFETCH(QString, message);
        StoreFixture store;
        if (status == 2)
            store.create();
        QProcess uplink;
        uplink.start(QString::fromLocal8Bit(qgetenv("QF_BIN_DIR")) + "/quillfern-uplink",
                     {"--station", "refused", "--db", conninfo.arg(m_server, database(setup)), store.dir()});
        QVERIFY(uplink.waitForFinished(20000));
        const QString said = QString::fromLocal8Bit(uplink.readAllStandardError());
        QVERIFY2(said.contains(message), qPrintable(said));
        QCOMPARE(uplink.exitCode(), status);
    }

private:
    // A new database on the private server, made with setup (%db in it
    // names the database).
    QString database(QString setup)
    {
        const QString name = QStringLiteral("case_%1").arg(++m_databases);
        if (!serverScript({"run", m_server, "postgres", "CREATE DATABASE " + name}) ||
            (!setup.isEmpty() && !serverScript({"run", m_server, name, setup.replace("%db", name)})))
            QTest::qFail("the case's database could not be made", __FILE__, __LINE__);
        return name;
    }

    QString m_server; // the private server's socket directory
    int m_databases = 0;
};

QTEST_GUILESS_MAIN(TestUplink)
#include "tst_uplink.moc"
