// quillfern-uplink as a program, against a private PostgreSQL server and a
// store written by the station's own commit path: sequences of faults, after
// each of which the central table holds every record of every generation
// exactly once with the values the store holds.

#include "support/storefixture.h"

#include <QProcess>
#include <QRandomGenerator>

#include <memory>
#include <optional>

#include <signal.h>
#include <sys/prctl.h>

using namespace qf;

namespace {

constexpr int CatchUpTimeoutMs = 20000;
constexpr int KillDelayMaxMs = 250;
constexpr qsizetype MaxKeptOutput = 1 << 16;

QString runServerScript(const QStringList &arguments)
{
    QProcess script;
    script.start(QStringLiteral(QF_PGSERVER), arguments);
    const bool ran = script.waitForFinished(60000) && script.exitCode() == 0;
    if (!ran)
        qWarning("pgserver.sh %s: %s", qPrintable(arguments.join(' ')),
                 script.readAllStandardError().constData());
    return ran ? QString::fromLocal8Bit(script.readAllStandardOutput()).trimmed() : QString();
}

// One station: its store, its record log committing as the station does,
// the uplink programs beside it, and what the central table must hold.
class Station {
public:
    Station(QString server, QString name, qint64 prefill)
        : m_server(std::move(server)), m_name(std::move(name))
    {
        m_store.create(prefill);
        m_log.emplace(m_store);
    }
    ~Station() { stopUplinks(false); }
    static QString conninfo(const QString &server)
    {
        return "host=" + server + " user=quillfern dbname=postgres";
    }

    // Steps: commit:N, uplink, kill, term, pgstop, pgstart, delete,
    // said:TEXT (wait for a line of the uplink), pause (for a random moment
    // before a kill -9), check.
    void step(const QString &step, const QString &argument)
    {
        if (step == "commit")
            commit(argument.toInt());
        else if (step == "uplink")
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
    void commit(int count)
    {
        for (int i = 0; i < count; ++i) {
            const double reading = QRandomGenerator::global()->bounded(1000) / 8.0;
            m_log->log.commit({"  " + QString::number(reading), "  -3.25", "  7", "  1e999"});
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
                     {"--station", m_name, "--db", conninfo(m_server), m_store.dir()});
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
            if (terminate)
                QCOMPARE(std::pair(uplink->exitStatus(), uplink->exitCode()),
                         std::pair(QProcess::NormalExit, 0));
        }
        m_uplinks.clear();
    }
    bool uplinkSaid(const QString &text)
    {
        const QByteArray said = m_uplinks.back()->readAllStandardError();
        if (m_stderr.size() < MaxKeptOutput) // an uplink gone wild says too much
            m_stderr += QString::fromLocal8Bit(said);
        return m_stderr.contains(text);
    }
    // The central table's rows of this station as StoreFixture::sql gives
    // the store's: columns joined by '|', a null as NULL.
    QStringList central() const
    {
        return runServerScript({"query", m_server,
                                "SELECT generation, record_rowid, sr_no, to_char(time_and_date AT TIME ZONE "
                                "'Europe/Berlin', 'YYYY-MM-DD HH24:MI:SS'), temp1, temp2, temp3, temp4 FROM "
                                "quillfern_log WHERE station = '" +
                                    m_name + "' ORDER BY generation, record_rowid"})
            .split('\n', Qt::SkipEmptyParts);
    }
    QStringList storeRows() const
    {
        return m_store.column(QStringLiteral("SELECT %1, rowid, \"Sr No\", TimeAndDate, Temp1, Temp2, Temp3, "
                                             "Temp4 FROM log ORDER BY rowid")
                                  .arg(m_generation));
    }

    const QString m_server;
    const QString m_name;
    StoreFixture m_store;
    std::optional<ListedLog> m_log;
    std::vector<std::unique_ptr<QProcess>> m_uplinks;
    QString m_stderr;
    QStringList m_sent; // rows of the generations deleted so far
    int m_generation = 1;
};

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
        QTest::addColumn<QString>("steps"); // see Station::step
        QTest::newRow("server down at start")
            << 0LL << "pgstop commit:20 uplink said:unavailable commit:5 pgstart check commit:5 check term";
        QTest::newRow("server stopped and started mid-run")
            << 3000LL << "uplink commit:10 check pgstop commit:30 said:unavailable pgstart check term";
        // The later delete-alls happen while it follows, the last with more
        // records written again than before.
        QTest::newRow("delete-all while the uplink is down, more records after")
            << 0LL
            << "uplink commit:10 check kill delete commit:25 uplink check delete commit:5 check delete "
               "commit:30 check term";
        QTest::newRow("delete-all while the server is down")
            << 0LL << "uplink commit:10 check pgstop delete commit:4 pgstart check term";
        QTest::newRow("two uplinks of one station at once")
            << 5000LL << "uplink uplink commit:20 check commit:20 check term";
        const QString killRound = "uplink pause kill commit:3 ";
        QTest::newRow("kill -9 at random moments during catch-up and follow")
            << 20000LL
            << killRound.repeated(25) + "uplink check kill delete commit:3 " + killRound.repeated(5) +
                   "uplink check term";
    }
    void faultSequences()
    {
        QFETCH(qint64, prefill);
        QFETCH(QString, steps);
        Station station(m_server, QString::fromLatin1(QTest::currentDataTag()), prefill);
        for (const QString &step : steps.split(' ')) {
            station.step(step.section(':', 0, 0), step.section(':', 1));
            if (QTest::currentTestFailed())
                return;
        }
    }

    // Status 1: the store is missing (whatever the server); 2: the store is
    // sound and the connection is refused.
    void refusals_data()
    {
        QTest::addColumn<QString>("conninfo");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("no store, server down beside it") << "host=/nonexistent" << 1 << "error 3024";
        QTest::newRow("bad connection string") << "host=/tmp nonsense" << 2 << "bad connection string";
        QTest::newRow("unknown database") << "dbname=quillfern_none" << 2 << "does not exist";
    }
    void refusals()
    {
        QFETCH(QString, conninfo);
        QFETCH(int, status);
        QFETCH(QString, message);
        StoreFixture store;
        if (status == 2)
            store.create();
        QProcess uplink;
        uplink.start(
            QString::fromLocal8Bit(qgetenv("QF_BIN_DIR")) + "/quillfern-uplink",
            {"--station", "refused", "--db", Station::conninfo(m_server) + " " + conninfo, store.dir()});
        QVERIFY(uplink.waitForFinished(20000));
        const QString said = QString::fromLocal8Bit(uplink.readAllStandardError());
        QVERIFY2(said.contains(message), qPrintable(said));
        QCOMPARE(uplink.exitCode(), status);
    }

private:
    QString m_server; // the private server's socket directory
};

QTEST_GUILESS_MAIN(TestUplink)
#include "tst_uplink.moc"
