// The one read-only follower of the store: the stores it refuses (as the
// station does), the changes it tells, its mark, and a store it may read but
// whose directory it may not write.

#include "store/logtable.h"
#include "store/storeconnection.h"
#include "store/storefollower.h"
#include "store/storemaintenance.h"
#include "support/storefixture.h"

#include <QProcess>

#include <unistd.h>

using namespace qf;

namespace {

ErrorCode errorCode(const std::function<void()> &step, QString *description = nullptr)
{
    try {
        step();
    } catch (const StationError &e) {
        if (description)
            *description = e.error().description;
        return e.error().code;
    }
    return ErrorCode{};
}

QString serialsOf(const std::vector<StoredRecord> &records)
{
    QStringList serials;
    for (const StoredRecord &record : records)
        serials.append(record.srNo.value_or("NULL"));
    return serials.join(',');
}

// The follow probe as another user than root (root may write any
// directory), started on the store at path.
void startProbe(QProcess &probe, const QString &path)
{
    const QString program = QCoreApplication::applicationDirPath() + "/qf_follow_probe";
    if (::geteuid() == 0)
        probe.start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups", program, path});
    else
        probe.start(program, {path});
    QVERIFY(probe.waitForStarted());
}

QByteArray askProbe(QProcess &probe)
{
    probe.write("poll\n");
    while (!probe.canReadLine() && probe.waitForReadyRead(10000)) {
    }
    return probe.readLine().trimmed();
}

} // namespace

class TestStoreFollower : public QObject {
    Q_OBJECT
private slots:
    // A store that is not the station's is refused at open with the
    // station's own number, by the follower and the station alike.
    void openErrors_data()
    {
        QTest::addColumn<QString>("setup"); // "sh:" and a shell command in the directory, or statements
        QTest::addColumn<ErrorCode>("code");
        QTest::addColumn<bool>("station"); // the station's open is asked too
        QTest::newRow("missing") << "sh:true" << ErrorCode::StoreMissing << true;
        QTest::newRow("not a database") << "sh:echo text > velk.mdb" << ErrorCode::StoreNotDatabase << true;
        QTest::newRow("FIFO") << "sh:mkfifo velk.mdb" << ErrorCode::StoreNotDatabase << false;
        QTest::newRow("no table log") << "CREATE TABLE other (x)" << ErrorCode::TableMissing << true;
        QTest::newRow("log a view") << "CREATE TABLE t (\"Sr No\", TimeAndDate, Temp1, Temp2, Temp3, Temp4);"
                                       "CREATE VIEW log AS SELECT * FROM t"
                                    << ErrorCode::StoreFailed << true;
        QTest::newRow("a field missing") << "CREATE TABLE log (\"Sr No\", TimeAndDate, Temp1, Temp2, Temp4)"
                                         << ErrorCode::FieldMissing << true;
    }
    void openErrors()
    {
        QFETCH(QString, setup);
        QFETCH(ErrorCode, code);
        QFETCH(bool, station);
        StoreFixture store;
        if (setup.startsWith(u"sh:"))
            QCOMPARE(QProcess::execute("sh", {"-c", "cd \"$0\" && " + setup.mid(3), store.dir()}), 0);
        else
            store.sql(setup.split(';'));
        QString description;
        QCOMPARE(errorCode([&] { StoreFollower follower(store.path()); }, &description), code);
        QVERIFY2(description.contains(store.path()), qPrintable(description));
        if (station)
            QCOMPARE(errorCode([&] { LogDatabase::OpenDatabase(store.path()); }), code);
    }

    // Each record as stored: numbers, texts that are numbers, nulls and
    // other texts, in a table of another tool (a column named rowid).
    void values()
    {
        StoreFixture store;
        store.sql({"CREATE TABLE LOG (rowid INTEGER, temp4 TEXT, \"SR NO\" INTEGER, TimeAndDate, Temp1, "
                   "Temp2, Temp3)",
                   "INSERT INTO LOG VALUES (99, '-1e3', 7, '2024-02-29 23:59:58', 25, '0.52', 1.5)",
                   "INSERT INTO LOG VALUES (98, '25.3 C', NULL, NULL, NULL, 'x', '')"});
        StoreFollower follower(store.path());
        QCOMPARE(follower.poll(), StoreChange::Appended);
        const std::vector<StoredRecord> records = follower.next(10);
        QCOMPARE(records.size(), 2u);
        QCOMPARE(records[0], (StoredRecord{1, "7", "2024-02-29 23:59:58", {25, 0.52, 1.5, -1000}}));
        QCOMPARE(records[1], (StoredRecord{2, std::nullopt, std::nullopt, {}}));
        QCOMPARE(follower.poll(), StoreChange::None);
        QCOMPARE(follower.recordAt(1), records[0]);
    }

    // What happens to the store between two looks, and what the follower
    // then reads.
    void changes_data()
    {
        QTest::addColumn<QString>("change"); // "sh:" and a shell command in the directory, or statements
        QTest::addColumn<StoreChange>("told");
        QTest::addColumn<QString>("read");    // the serials read after it
        QTest::addColumn<ErrorCode>("error"); // the poll's instead (ErrorCode{}: none)
        const QString fill = "INSERT INTO log (\"Sr No\") VALUES ('a'), ('b'), ('c'), ('d'), ('e'), ('f')";
        QTest::newRow("nothing") << "sh:true" << StoreChange::None << "" << ErrorCode{};
        QTest::newRow("appended") << "INSERT INTO log (\"Sr No\") VALUES ('4'), ('5')"
                                  << StoreChange::Appended << "4,5" << ErrorCode{};
        QTest::newRow("delete-all, fewer") << "DELETE FROM log;INSERT INTO log (\"Sr No\") VALUES ('a')"
                                           << StoreChange::Restarted << "a" << ErrorCode{};
        QTest::newRow("delete-all, more")
            << "DELETE FROM log;" + fill << StoreChange::Restarted << "a,b,c,d,e,f" << ErrorCode{};
        QTest::newRow("first record deleted")
            << "DELETE FROM log WHERE rowid = 1" << StoreChange::Restarted << "2,3" << ErrorCode{};
        QTest::newRow("another store copied in")
            << "sh:cp velk.mdb other.mdb && sqlite3 other.mdb \"UPDATE log SET TimeAndDate = 'then'\" && "
               "mv other.mdb velk.mdb"
            << StoreChange::Restarted << "1,2,3" << ErrorCode{};
        QTest::newRow("store removed")
            << "sh:rm velk.mdb*" << StoreChange::None << "" << ErrorCode::StoreMissing;
        QTest::newRow("a text put in its place") << "sh:echo text > other && mv other velk.mdb"
                                                 << StoreChange::None << "" << ErrorCode::StoreNotDatabase;
        QTest::newRow("rowids exhausted")
            << "INSERT INTO log (rowid, \"Sr No\") VALUES (9223372036854775807, 'x')" << StoreChange::None
            << "" << ErrorCode::StoreFailed;
    }
    void changes()
    {
        QFETCH(QString, change);
        QFETCH(StoreChange, told);
        QFETCH(QString, read);
        QFETCH(ErrorCode, error);
        StoreFixture store;
        store.create(3);
        StoreFollower follower(store.path());
        QCOMPARE(follower.poll(), StoreChange::Appended);
        QCOMPARE(follower.next(10).size(), 3u);
        QCOMPARE(follower.poll(), StoreChange::None);
        if (change.startsWith(u"sh:"))
            QCOMPARE(QProcess::execute("sh", {"-c", "cd \"$0\" && " + change.mid(3), store.dir()}), 0);
        else
            store.sql(change.split(';'));
        if (error != ErrorCode{}) {
            QCOMPARE(errorCode([&] { follower.poll(); }), error);
            return;
        }
        if (told == StoreChange::Restarted) // changed between a look and a read: the read reads nothing
            QCOMPARE(follower.next(10).size(), 0u);
        QCOMPARE(follower.poll(), told);
        QCOMPARE(serialsOf(follower.next(10)), read);
        QCOMPARE(follower.poll(), StoreChange::None);
    }

    // A mark kept in a file goes on where the follower stopped; text that is
    // no mark is refused.
    void markText()
    {
        StoreFixture store;
        store.create(3);
        StoreFollower first(store.path());
        first.next(2);
        const FollowMark mark = first.mark();
        QCOMPARE(FollowMark::fromText(mark.toText()), mark);
        QCOMPARE(FollowMark::fromText(FollowMark{}.toText()), FollowMark{});
        StoreFollower again(store.path(), *FollowMark::fromText(mark.toText()));
        QCOMPARE(again.poll(), StoreChange::Appended);
        QCOMPARE(serialsOf(again.next(10)), "3");
        const QByteArray text = mark.toText();
        for (const QByteArray &garbage :
             {QByteArray(), QByteArray("qf-follow-mark-1"), text.left(text.size() - 1) + "*",
              QByteArray(text).replace("mark-1", "mark-2"), text + " -",
              QByteArray("qf-follow-mark-1 - 1:MQ:MQ"),
              QByteArray(text).replace(' ' + QByteArray::number(mark.last->rowid) + ':', " x:")})
            QVERIFY2(!FollowMark::fromText(garbage), garbage.constData());
    }

    // The store check's word on a store whose rowids are used up.
    void rowidsExhaustedTold()
    {
        StoreFixture store;
        store.create(1);
        QCOMPARE(checkStore(store.path()), QStringList());
        store.sql({"INSERT INTO log (rowid) VALUES (9223372036854775807)"});
        QVERIFY(checkStore(store.path()).join('\n').contains("highest rowid"));
    }

    // Run by another user while no station holds the store open, the
    // follower reads the store as it stands, makes no file beside it, and
    // follows the records once a station opens the store.
    void anotherUserWaitsForAStation_data()
    {
        QTest::addColumn<QFile::Permissions>("directory");
        const QFile::Permissions everyone = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                            QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
        QTest::newRow("directory read-only") << everyone;
        QTest::newRow("directory writable")
            << (everyone | QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther);
    }
    void anotherUserWaitsForAStation()
    {
        QFETCH(QFile::Permissions, directory);
        if (::geteuid() != 0)
            QSKIP("needs root, to run the probe as another user");
        StoreFixture store;
        store.create(2);
        const QStringList files = store.files();
        QVERIFY(QFile::setPermissions(store.dir(), directory));
        QProcess probe;
        startProbe(probe, store.path());
        QCOMPARE(askProbe(probe), "records 2");
        QCOMPARE(store.files(), files);
        {
            const QSqlDatabase station = store.connect("station"); // -wal and -shm beside the store now
            QVERIFY(QSqlQuery(station).exec("SELECT count(*) FROM log"));
            store.sql({"INSERT INTO log (\"Sr No\") VALUES ('3')"});
            QCOMPARE(askProbe(probe), "records 3");
        }
        QSqlDatabase::removeDatabase("station");
    }

    // Run by a user that may read the store but not write its directory,
    // while a station holds the store open: it sees every append, also
    // after the station stopped and started again.
    void readOnlyDirectory()
    {
        if (::geteuid() != 0)
            QSKIP("needs root, to run the probe as another user");
        StoreFixture store;
        store.create(2);
        QVERIFY(QFile::setPermissions(store.dir(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                                       QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
        QProcess probe;
        {
            const QSqlDatabase station = store.connect("station"); // -wal and -shm beside the store now
            QVERIFY(QSqlQuery(station).exec("SELECT count(*) FROM log"));
            store.sql({"INSERT INTO log (\"Sr No\") VALUES ('3')"});
            startProbe(probe, store.path());
            QCOMPARE(askProbe(probe), "records 3");
            store.sql({"INSERT INTO log (\"Sr No\") VALUES ('4')"});
            QCOMPARE(askProbe(probe), "records 4");
        }
        QSqlDatabase::removeDatabase("station");
        store.sql({"INSERT INTO log (\"Sr No\") VALUES ('5')"});
        QCOMPARE(askProbe(probe), "records 5");
        probe.closeWriteChannel();
        QVERIFY(probe.waitForFinished());
    }
};

QTEST_GUILESS_MAIN(TestStoreFollower)
#include "tst_storefollower.moc"
