#include "store/logcount.h"
#include "support/storefixture.h"

// The record count kept beside table log: exact for any writer that leaves
// the triggers alone, and rebuilt by the next open when anything made it
// stale. The store check reports a stale count, and proves by an append it
// rolls back that the station can append.
class TestLogCount : public QObject {
    Q_OBJECT
private slots:
    void openCountsExactly_data()
    {
        const QString insert = "INSERT INTO log (\"Sr No\", Temp1) VALUES ('11', 1)";
        const QString stale = "logRecordCount", sound; // a problem the check reports names this
        QTest::addColumn<QStringList>("behindTheBack");
        QTest::addColumn<QString>("problem");
        QTest::newRow("rows inserted") << QStringList{insert, insert} << sound;
        QTest::newRow("rows deleted in the middle")
            << QStringList{"DELETE FROM log WHERE rowid IN (3, 4, 7)"} << sound;
        QTest::newRow("no count at all")
            << QStringList{"DROP TABLE logRecordCount", "DROP TRIGGER logRecordCountInsert",
                           "DROP TRIGGER logRecordCountDelete", insert}
            << sound;
        QTest::newRow("insert trigger dropped")
            << QStringList{"DROP TRIGGER logRecordCountInsert", insert} << stale;
        QTest::newRow("delete trigger dropped")
            << QStringList{"DROP TRIGGER logRecordCountDelete", "DELETE FROM log WHERE rowid = 5"} << stale;
        QTest::newRow("trigger changed")
            << QStringList{"DROP TRIGGER logRecordCountInsert",
                           "CREATE TRIGGER logRecordCountInsert AFTER INSERT ON log "
                           "BEGIN UPDATE logRecordCount SET records = records + 2, "
                           "seal = seal - 2; END",
                           insert}
            << stale;
        QTest::newRow("count edited") << QStringList{"UPDATE logRecordCount SET records = 3"} << stale;
        QTest::newRow("sealed count beyond the rowids")
            << QStringList{"UPDATE logRecordCount SET records = 11, seal = -12"} << stale;
        QTest::newRow("sealed 0 for a table with rows")
            << QStringList{"UPDATE logRecordCount SET records = 0, seal = -1"} << stale;
        QTest::newRow("second count row")
            << QStringList{"INSERT INTO logRecordCount VALUES (10, -11)"} << stale;
        QTest::newRow("count row gone") << QStringList{"DELETE FROM logRecordCount"} << stale;
        QTest::newRow("trigger refusing inserts")
            << QStringList{"CREATE TRIGGER t BEFORE INSERT ON log BEGIN SELECT RAISE(ABORT, 'no inserts'); "
                           "END"}
            << "no inserts";
        QTest::newRow("Sr No is the rowid")
            << QStringList{"DROP TABLE log", "CREATE TABLE log (\"Sr No\" INTEGER "
                                             "PRIMARY KEY, TimeAndDate, Temp1, Temp2, Temp3, Temp4)"}
            << "INTEGER PRIMARY KEY";
    }
    void openCountsExactly()
    {
        QFETCH(QStringList, behindTheBack);
        QFETCH(QString, problem);
        StoreFixture store;
        store.create(10);
        const QString records = store.sql(behindTheBack << "SELECT count(*) FROM log").front();
        const QStringList problems = checkStore(store.path());
        QVERIFY2(problem.isEmpty() ? problems.isEmpty() : !problems.filter(problem).isEmpty(),
                 qPrintable(problems.join('\n')));

        QCOMPARE(store.column("SELECT count(*) FROM log"), QStringList{records}); // the check's append undone
        QCOMPARE(QString::number(store.records()->RecordCount()), records);
        QCOMPARE(store.column("SELECT records FROM logRecordCount"), QStringList{records});
        QCOMPARE(checkStore(store.path()).filter("logRecordCount"), QStringList()); // rebuilt
    }
};

QTEST_GUILESS_MAIN(TestLogCount)
#include "tst_logcount.moc"
