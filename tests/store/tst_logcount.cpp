#include "store/logcount.h"
#include "support/storefixture.h"

// The record count kept beside table log: exact for any writer that leaves
// the triggers alone, and rebuilt by the next open when anything made it
// stale.
class TestLogCount : public QObject {
    Q_OBJECT
private slots:
    void openCountsExactly_data()
    {
        const QString insert = "INSERT INTO log (\"Sr No\", Temp1) VALUES ('11', 1)";
        QTest::addColumn<QStringList>("behindTheBack");
        QTest::addColumn<bool>("stale");
        QTest::newRow("rows inserted") << QStringList{insert, insert} << false;
        QTest::newRow("rows deleted in the middle")
            << QStringList{"DELETE FROM log WHERE rowid IN (3, 4, 7)"} << false;
        QTest::newRow("no count at all")
            << QStringList{"DROP TABLE logRecordCount", "DROP TRIGGER logRecordCountInsert",
                           "DROP TRIGGER logRecordCountDelete", insert}
            << false;
        QTest::newRow("insert trigger dropped")
            << QStringList{"DROP TRIGGER logRecordCountInsert", insert} << true;
        QTest::newRow("delete trigger dropped")
            << QStringList{"DROP TRIGGER logRecordCountDelete", "DELETE FROM log WHERE rowid = 5"} << true;
        QTest::newRow("trigger changed")
            << QStringList{"DROP TRIGGER logRecordCountInsert",
                           "CREATE TRIGGER logRecordCountInsert AFTER INSERT ON log "
                           "BEGIN UPDATE logRecordCount SET records = records + 2, "
                           "seal = seal - 2; END",
                           insert}
            << true;
        QTest::newRow("count edited") << QStringList{"UPDATE logRecordCount SET records = 3"} << true;
        QTest::newRow("sealed count beyond the rowids")
            << QStringList{"UPDATE logRecordCount SET records = 11, seal = -12"} << true;
        QTest::newRow("sealed 0 for a table with rows")
            << QStringList{"UPDATE logRecordCount SET records = 0, seal = -1"} << true;
        QTest::newRow("second count row")
            << QStringList{"INSERT INTO logRecordCount VALUES (10, -11)"} << true;
        QTest::newRow("count row gone") << QStringList{"DELETE FROM logRecordCount"} << true;
    }
    void openCountsExactly()
    {
        QFETCH(QStringList, behindTheBack);
        StoreFixture store;
        store.create(10);
        store.sql(behindTheBack);
        QTEST(!checkStore(store.path()).isEmpty(), "stale");

        const QString records = store.column("SELECT count(*) FROM log").front();
        QCOMPARE(QString::number(store.records()->RecordCount()), records);
        QCOMPARE(store.column("SELECT records FROM logRecordCount"), QStringList{records});
        QCOMPARE(checkStore(store.path()), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestLogCount)
#include "tst_logcount.moc"
