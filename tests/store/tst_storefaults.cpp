#include "recordlog/storeretry.h"
#include "support/storefixture.h"

#include <QProcess>
#include <QSignalSpy>

#include <cstdio>
#include <sys/mount.h>
#include <unistd.h>

using namespace qf;

namespace {
const std::array<QString, 4> Frame{"  21.5", "  22", "  7", "  0.5"};

QString failure(const std::function<void()> &step)
{
    try {
        step();
    } catch (const StationError &e) {
        return QString::number(e.error().number()) + ' ' + e.error().description;
    }
    return "no error";
}

// A small file system of its own, for a disk that fills up (root only).
struct SmallDisk {
    SmallDisk() { mounted = ::mount("tmpfs", qPrintable(dir.path()), "tmpfs", 0, "size=1m") == 0; }
    ~SmallDisk() { ::umount2(qPrintable(dir.path()), MNT_DETACH); }
    // Fills what is left with a file of its own.
    void fill() const
    {
        QProcess::execute("sh", {"-c", "dd if=/dev/zero of=\"$0/filler\" 2>/dev/null", dir.path()});
    }
    QTemporaryDir dir;
    bool mounted = false;
};

int storeTool(const QStringList &args)
{
    return QProcess::execute(qEnvironmentVariable("QF_BIN_DIR") + "/quillfern-store", args);
}

// Every entry of dir with its size, time of change and contents' hash, as
// another process reads them (closing a file here would drop the locks a
// station of this process holds on it).
QByteArray fileStates(const QString &dir)
{
    QProcess find;
    find.start("find",
               {dir, "-mindepth", "1", "-printf", "%f %s %T@\n", "-type", "f", "-exec", "md5sum", "{}", "+"});
    find.waitForFinished();
    return find.readAllStandardOutput();
}
} // namespace

// Faults of the store's files and of its disk, through the real store.
class TestStoreFaults : public QObject {
    Q_OBJECT
private slots:
    // A store the station cannot open ends the open at once, with an error
    // that names it, and is left as it was.
    void openErrors_data()
    {
        // "sh:" and a shell command run in the application directory, or a statement
        QTest::addColumn<QString>("setup");
        QTest::addColumn<ErrorCode>("code");
        QTest::addColumn<QString>("named"); // what the description names besides the path
        QTest::newRow("FIFO") << "sh:mkfifo velk.mdb" << ErrorCode::StoreNotDatabase << "";
        QTest::newRow("8 GiB sparse") << "sh:truncate -s 8G velk.mdb" << ErrorCode::StoreNotDatabase << "";
        QTest::newRow("a header, no database") << "sh:printf 'SQLite format 3\\0 and nothing else' > velk.mdb"
                                               << ErrorCode::StoreNotDatabase << "";
        QTest::newRow("missing table") << "CREATE TABLE other (x)" << ErrorCode::TableMissing << "log";
        QTest::newRow("missing field") << "CREATE TABLE log (\"Sr No\", TimeAndDate, Temp1, Temp2, Temp4)"
                                       << ErrorCode::FieldMissing << "Temp3";
    }
    void openErrors()
    {
        QFETCH(QString, setup);
        QFETCH(ErrorCode, code);
        QFETCH(QString, named);
        StoreFixture store;
        if (setup.startsWith(u"sh:"))
            QCOMPARE(QProcess::execute("sh", {"-c", "cd \"$0\" && " + setup.mid(3), store.dir()}), 0);
        else
            store.sql({setup});
        const auto content = [&] { // of a file of some size
            QFile file(store.path());
            return QFileInfo(file).isFile() && file.size() < (1 << 20) && file.open(QIODevice::ReadOnly)
                       ? file.readAll()
                       : QByteArray();
        };
        const QByteArray before = content();
        FakeMessageBoxes boxes;
        RecordLog log(store.dir(), boxes);
        const QString refused = failure([&] { log.openStore(); });
        QVERIFY2(refused.startsWith(QString::number(int(code)) + ' ') && refused.contains(store.path()) &&
                     refused.contains(named),
                 qPrintable(refused));
        QCOMPARE(content(), before);
    }

    // While a station logs, a second one is refused and a backup holds
    // every record committed.
    void whileAStationLogs()
    {
        StoreFixture store;
        store.create(10);
        ListedLog first(store);
        FakeMessageBoxes boxes;
        RecordLog second(store.dir(), boxes);
        const QString refused = failure([&] { second.openStore(); });
        QVERIFY2(refused.startsWith("3045 ") && refused.contains(QString("process %1").arg(::getpid())),
                 qPrintable(refused));
        first.log.commit(Frame);
        const QString copy = QDir(store.dir()).filePath("copy.mdb");
        backupStore(store.path(), copy);
        QCOMPARE(LogDatabase::OpenDatabase(copy)->OpenRecordset()->RecordCount(), 11);
    }

    // The check writes no file of the store, whatever state it finds it in,
    // so that what it reports is still there for the next check.
    void checkChangesNothing_data()
    {
        // statements, or "sh:" and a shell command run in the application directory
        QTest::addColumn<QStringList>("behindTheBack");
        QTest::addColumn<bool>("stationLogs"); // a station holds records in the write-ahead log
        QTest::addColumn<int>("status");       // the check's: 0 sound, 4 problems found
        const QString rollback = "PRAGMA journal_mode=DELETE";
        // Replacing a row runs the insert trigger but not the delete trigger.
        const QString replace = "INSERT OR REPLACE INTO log (rowid, \"Sr No\") VALUES (5, '5')";
        QTest::newRow("rollback journal") << QStringList{rollback} << false << 0;
        QTest::newRow("count stale, rollback journal") << QStringList{rollback, replace} << false << 4;
        QTest::newRow("count stale, write-ahead log") << QStringList{replace} << false << 4;
        QTest::newRow("count stale, station logging") << QStringList{replace} << true << 4;
        QTest::newRow("unfinished transaction")
            << QStringList{rollback,
                           "sh:printf '\\331\\325\\005\\371\\040\\241\\143\\327' > velk.mdb-journal"}
            << false << 4;
    }
    void checkChangesNothing()
    {
        QFETCH(QStringList, behindTheBack);
        QFETCH(bool, stationLogs);
        QFETCH(int, status);
        StoreFixture store;
        store.create(10);
        std::optional<ListedLog> station;
        if (stationLogs) {
            station.emplace(store);
            station->log.commit(Frame);
        }
        for (const QString &step : behindTheBack) {
            if (step.startsWith(u"sh:"))
                QCOMPARE(QProcess::execute("sh", {"-c", "cd \"$0\" && " + step.mid(3), store.dir()}), 0);
            else
                store.sql({step});
        }
        const QByteArray before = fileStates(store.dir());
        for (int check = 0; check < 2; ++check) {
            QCOMPARE(storeTool({"check", store.dir()}), status);
            QCOMPARE(fileStates(store.dir()), before);
        }
        // Mending is the station's, or an explicit repair's when no station logs.
        QCOMPARE(storeTool({"repair", store.dir()}), stationLogs ? 1 : 0);
        if (!stationLogs)
            QCOMPARE(storeTool({"check", store.dir()}), 0);
    }

    // A refused backup leaves the directory as it was: one without a name,
    // or to a dangling link whose target it would make.
    void backupRefused()
    {
        StoreFixture store;
        store.create(10);
        const QString link = QDir(store.dir()).filePath("b.mdb");
        QVERIFY(QFile::link("made.mdb", link));
        const QByteArray before = fileStates(store.dir());
        for (const QString &dest : {QString(), link})
            QVERIFY(failure([&] { backupStore(store.path(), dest); }).startsWith("3146 "));
        QCOMPARE(fileStates(store.dir()), before);
    }

    // A backup to a disk that fills up names that disk, and leaves nothing
    // there.
    void backupToAFullDisk()
    {
        SmallDisk disk;
        if (!disk.mounted)
            QSKIP("no tmpfs can be mounted here (needs root)");
        StoreFixture store;
        store.create(50000);
        const QString dest = disk.dir.filePath("b.mdb");
        const QString refused = failure([&] { backupStore(store.path(), dest); });
        QVERIFY2(refused.startsWith("3026 The disk that holds the backup file " + dest), qPrintable(refused));
        QCOMPARE(fileStates(disk.dir.path()), QByteArray());
    }

    void fullDisk()
    {
        SmallDisk disk;
        if (!disk.mounted)
            QSKIP("no tmpfs can be mounted here (needs root)");
        const QString path = storeFilePath(disk.dir.path());
        createStore(path);
        FakeMessageBoxes boxes;
        RecordLog log(disk.dir.path(), boxes);
        log.openStore();
        log.listAllRecords();
        char *text = nullptr;
        std::size_t size = 0;
        std::FILE *journal = ::open_memstream(&text, &size);
        StoreRetry retry(log, boxes, journal);
        disk.fill();
        QVERIFY(
            failure([&] { fillStore(path, 50000); }).startsWith("3026 The disk that holds the store file"));
        QVERIFY(!retry.commit(Frame));
        QFile::remove(disk.dir.filePath("filler"));
        QSignalSpy stored(&retry, &StoreRetry::stored);
        QVERIFY(stored.wait(3000));
        QCOMPARE(checkStore(path), QStringList());
        std::fclose(journal);
        const QByteArray lines(text, qsizetype(size));
        std::free(text);
        QCOMPARE(lines.count('\n'), 2); // held, then stored again: one line each
        QVERIFY2(lines.contains("error 3026") && lines.contains("storing records again"), lines.constData());
    }

    // A frame held for a locked store when "Delete all Records" runs, its
    // retry free to fire as the delete-all starts and as it ends: the frame
    // waits for the delete-all and is then stored once, as record 1 of the
    // emptied store, and shown.
    void heldFrameWaitsForDeleteAll()
    {
        StoreFixture store;
        store.create(3);
        ListedLog s(store);
        s.log.setStoreWait(std::chrono::milliseconds(10));
        StoreRetry retry(s.log, s.boxes);
        QSignalSpy stored(&retry, &StoreRetry::stored);
        QSqlDatabase other = store.connect("other");
        QVERIFY(QSqlQuery(other).exec("BEGIN IMMEDIATE") && !retry.commit(Frame));
        QVERIFY(QSqlQuery(other).exec("COMMIT"));
        s.log.setBusyIndicator([&](bool) { stored.wait(int(StoreRetry::RetryInterval.count()) * 3 / 2); });
        s.boxes.answerNext(MsgAnswer::Yes);
        s.log.confirmDeleteAll();
        QTRY_COMPARE(stored.size(), 1);
        QCOMPARE(store.column("SELECT \"Sr No\" FROM log"), QStringList{"1"});
        QCOMPARE(s.total(), "Total Records: 1");
    }

    // What another program does to the store's files while the station logs,
    // with a record still in the write-ahead log: what SQLite coordinates (a
    // checkpoint of any mode, a backup, a read) leaves the station logging;
    // what it cannot (a file removed, cut, renamed over or overwritten) stops
    // the next commit with an error naming the file, after keeping what can
    // be kept.
    void filesChangedBehindTheStation_data()
    {
        QTest::addColumn<QString>("change"); // shell command in the application directory
        QTest::addColumn<QString>("named");  // the file the error names, none when logging goes on
        QTest::addColumn<QString>("keeper"); // the file that holds the records afterwards
        QTest::addColumn<int>("kept");       // 5: all; 4: all before the stop; 3: not the fourth, in the log
        const QString sqlite = "sqlite3 velk.mdb '%1' >/dev/null";
        // clang-format off
        for (const char *mode : {"PASSIVE", "FULL", "RESTART", "TRUNCATE"})
            QTest::addRow("checkpoint %s", mode) << sqlite.arg(QString("PRAGMA wal_checkpoint(%1)").arg(mode)) << "" << "velk.mdb" << 5;
        QTest::newRow("backup")                  << sqlite.arg(".backup copy.mdb")           << ""             << "velk.mdb"          << 5;
        QTest::newRow("read")                    << sqlite.arg("SELECT count(*) FROM log")   << ""             << "velk.mdb"          << 5;
        QTest::newRow("log removed")             << "rm velk.mdb-wal"                        << "velk.mdb-wal" << "velk.mdb"          << 4;
        QTest::newRow("log cut in a frame")      << "truncate -s 100 velk.mdb-wal"           << "velk.mdb-wal" << "velk.mdb"          << 3;
        QTest::newRow("store renamed over")      << "cp velk.mdb old && mv old velk.mdb"     << "velk.mdb"     << "velk.mdb.kept-*"   << 4;
        QTest::newRow("old copy over the store") << "cp velk.mdb old && cat old > velk.mdb"  << "velk.mdb"     << "velk.mdb"          << 3;
        // clang-format on
    }
    void filesChangedBehindTheStation()
    {
        QFETCH(QString, change);
        QFETCH(QString, named);
        QFETCH(QString, keeper);
        StoreFixture store;
        store.create();
        {
            ListedLog s(store);
            for (int i = 0; i < 3; ++i)
                s.log.commit(Frame);
            // A reader's snapshot keeps the fourth record in the write-ahead log.
            QSqlDatabase reader = store.connect("reader");
            QSqlQuery snapshot(reader);
            QVERIFY(snapshot.exec("BEGIN") && snapshot.exec("SELECT count(*) FROM log") && snapshot.next());
            s.log.commit(Frame);
            reader.close();
            QCOMPARE(QProcess::execute("sh", {"-c", "cd \"$0\" && " + change, store.dir()}), 0);
            const QString outcome = failure([&] { s.log.commit(Frame); });
            if (named.isEmpty())
                QCOMPARE(outcome, "no error");
            else
                QVERIFY2(outcome.startsWith("3146 ") &&
                             outcome.contains(QDir(store.dir()).filePath(named) + ' '),
                         qPrintable(outcome));
        }
        QSqlDatabase::removeDatabase("reader");
        const QStringList found = QDir(store.dir()).entryList({keeper});
        QCOMPARE(found.size(), 1);
        const QString path = QDir(store.dir()).filePath(found.front());
        QCOMPARE(checkStore(path), QStringList());
        QTEST(int(LogDatabase::OpenDatabase(path)->OpenRecordset()->RecordCount()), "kept");
    }
};

QTEST_GUILESS_MAIN(TestStoreFaults)
#include "tst_storefaults.moc"
