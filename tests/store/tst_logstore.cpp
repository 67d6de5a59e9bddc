// The station's record set over table log (its count, its rowid walks, a
// table of another tool, another program's lock), and the store's small
// units: the rowid checkpoints and the number a text is stored as. The
// faults of the store's files and disk are tst_storefaults'.

#include "common/error.h"
#include "store/leadingnumber.h"
#include "store/rowidkeyset.h"
#include "store/storetext.h"
#include "support/storefixture.h"

#include <QElapsedTimer>
#include <QSemaphore>

#include <chrono>
#include <thread>

using namespace qf;

namespace {
void append(LogRecordset &rs, const QString &serial, const QVariant &temp1 = {})
{
    rs.AddNew();
    rs.Fields().Item("Sr No").setValue(serial);
    rs.Fields().Item("Temp1").setValue(temp1);
    rs.Update();
}
} // namespace

class TestLogStore : public QObject {
    Q_OBJECT
private slots:
    // The record count kept beside table log: exact for any writer that
    // leaves the triggers alone, and rebuilt by the next open when anything
    // made it stale. The store check reports a stale count, and proves by an
    // append on a scratch copy of the schema that the station can append.
    void openCountsExactly_data()
    {
        const QString insert = "INSERT INTO log (\"Sr No\", Temp1) VALUES ('11', 1)";
        const QString stale = "logRecordCount", sound; // a problem the check reports names this
        QTest::addColumn<QStringList>("behindTheBack");
        QTest::addColumn<QString>("problem");
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

        QCOMPARE(store.column("SELECT count(*) FROM log"),
                 QStringList{records}); // the check appended nothing
        QCOMPARE(QString::number(store.records()->RecordCount()), records);
        QCOMPARE(store.column("SELECT records FROM logRecordCount"), QStringList{records});
        QCOMPARE(checkStore(store.path()).filter("logRecordCount"), QStringList()); // rebuilt
    }

    void tableOfAnotherTool()
    {
        // Other declared types, other case, other column order, an extra
        // column and a column named rowid.
        StoreFixture store;
        store.sql({"CREATE TABLE LOG (rowid INTEGER, temp4 VARCHAR(9), \"SR NO\" INTEGER, "
                   "TimeAndDate DATETIME, Temp1 TEXT, Temp2 NUMERIC, Temp3 FLOAT, note TEXT)",
                   "INSERT INTO LOG VALUES (99, '7', 1, '2024-02-29 23:59:58', '25.3', 4, 1.5, 'x')",
                   "INSERT INTO LOG VALUES (98, NULL, 2, 'yesterday', NULL, 2.25, NULL, 'y')"});
        auto rs = store.records();
        QCOMPARE(rs->RecordCount(), 2);
        QStringList texts;
        for (; !rs->Eof(); rs->MoveNext()) {
            for (const QLatin1String name : LogFieldNames)
                texts.append(valueText(rs->Fields().Item(name).Value()));
        }
        const QString leap = dateTimeText(QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58)));
        QCOMPARE(texts,
                 (QStringList{"1", leap, "25.3", "4", "1.5", "7", "2", "yesterday", "", "2.25", "", ""}));
        QVERIFY_THROWS_EXCEPTION(StationError, rs->MoveNext());
        QVERIFY_THROWS_EXCEPTION(StationError, rs->Fields().Item("Temp1").Value());
        QVERIFY_THROWS_EXCEPTION(StationError, rs->Fields().Item("Temp5"));

        append(*rs, "3", 12.5);
        QCOMPARE(rs->RecordCount(), 3);
        QCOMPARE(valueText(rs->ReadRows(2, 1).front().at(2)), "12.5");
        QCOMPARE(store.column("SELECT journal_mode FROM pragma_journal_mode"), QStringList{"wal"});
    }

    // Rowids with gaps: positions are found from checkpoints, forwards and
    // backwards, and must agree with the table's order.
    void rowidGaps()
    {
        StoreFixture store;
        store.create(3000);
        const QStringList expected =
            store.sql({"DELETE FROM log WHERE rowid % 7 = 0 OR rowid BETWEEN 1000 AND 1400",
                       "DELETE FROM log WHERE rowid = 1", "SELECT \"Sr No\" FROM log ORDER BY rowid"});
        auto rs = store.records();
        QCOMPARE(rs->RecordCount(), expected.size());
        for (const qint64 at : {2000, 5, 2200, 1990, 0, 1000, int(expected.size() - 3)}) {
            const auto rows = rs->ReadRows(at, 40);
            QCOMPARE(qint64(rows.size()), std::min<qint64>(40, expected.size() - at));
            for (std::size_t i = 0; i < rows.size(); ++i)
                QCOMPARE(rows[i].at(0).toString(), expected.at(at + qint64(i)));
        }
        append(*rs, "new"); // appended records follow the listed ones
        QCOMPARE(rs->ReadRows(rs->RecordCount() - 2, 2).back().at(0).toString(), "new");
    }

    // Checkpoints of a sparse table, without a database (the walks
    // themselves are checked through the store, on a table with gaps, above).
    // A remembered rowid is answered directly and shortens later walks; a
    // full set of checkpoints starts again from the two ends.
    void checkpoints()
    {
        using Walk = RowidKeyset::Walk;
        using Where = std::variant<qint64, Walk>;
        RowidKeyset keyset(100000, 1, 500000);
        const RowidKeyset::Segment segment = keyset.segments().front();
        keyset.remember(400, 2000);
        QVERIFY(keyset.locate(segment, 400) == Where(qint64(2000)));
        QVERIFY(keyset.locate(segment, 410) == Where(Walk{2000, 9, true}));
        QVERIFY(keyset.locate(segment, 390) == Where(Walk{2000, 9, false}));
        for (qint64 offset = 1; keyset.checkpointCount() < RowidKeyset::MaxCheckpoints; ++offset)
            keyset.remember(offset, 2 * offset);
        keyset.remember(500, 1000);
        QCOMPARE(keyset.checkpointCount(), std::size_t(3));
        QVERIFY(keyset.locate(segment, 99999) == Where(qint64(500000)));
        QVERIFY(keyset.locate(segment, 501) == Where(Walk{1000, 0, true}));
        QVERIFY(!keyset.segmentAt(keyset.count()));
        QVERIFY(!keyset.segmentAt(-1));
    }

    // Another program holding the write lock for a second does not fail an
    // append; its record, unknown to the station, is not listed as one.
    void sharing()
    {
        StoreFixture store;
        store.create(10);
        auto rs = store.records();
        append(*rs, "11");
        QSemaphore locked;
        std::jthread writer([&] {
            {
                const QSqlDatabase db = store.connect("writer");
                QSqlQuery("BEGIN IMMEDIATE", db);
                QSqlQuery("INSERT INTO log (\"Sr No\") VALUES ('writer')", db);
                locked.release();
                std::this_thread::sleep_for(std::chrono::seconds(1)); // the other program holds its lock
                QSqlQuery("COMMIT", db);
            }
            QSqlDatabase::removeDatabase("writer");
        });
        QVERIFY(locked.tryAcquire(1, 10000));
        QElapsedTimer waited;
        waited.start();
        append(*rs, "12");
        QVERIFY2(waited.elapsed() >= 500, "the append did not wait for the lock");
        writer.join();
        QCOMPARE(rs->RecordCount(), 12);
        QCOMPARE(rs->ReadRows(10, 2).back().at(0).toString(), "12");
    }

    // The number a text of the device is stored as.
    void storedNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QVariant>("value"); // null: no value (too large for a double)
        QTest::newRow("second period stops") << "12.5.3" << QVariant(12.5);
        QTest::newRow("carriage return stops") << "7\r" << QVariant(7.0);
        QTest::newRow("letters") << "abc" << QVariant(0.0);
        QTest::newRow("negative exponent form") << "-2.5E1" << QVariant(-25.0);
        QTest::newRow("D exponent") << "1D2" << QVariant(100.0);
        QTest::newRow("hexadecimal, mixed case") << "&hFf" << QVariant(255.0);
        QTest::newRow("octal stops at 8") << "&O178" << QVariant(15.0);
        QTest::newRow("leading period") << ".5" << QVariant(0.5);
        QTest::newRow("plus sign") << "+4" << QVariant(4.0);
        QTest::newRow("blanks, tabs and line feeds anywhere") << "\t- \n3 4\t.5" << QVariant(-34.5);
        QTest::newRow("exponent sign without digits") << "2e+x" << QVariant(2.0);
        QTest::newRow("comma is no decimal separator") << "1,5" << QVariant(1.0);
        QTest::newRow("two signs") << "--1" << QVariant(0.0);
        QTest::newRow("ampersand without prefix") << "&17" << QVariant(0.0);
        QTest::newRow("hex prefix without digits") << "&H" << QVariant(0.0);
        QTest::newRow("non-ASCII digit stops") << QString::fromUtf8("4\u0663") << QVariant(4.0);
        QTest::newRow("too small is zero") << "1E-400" << QVariant(0.0);
        QTest::newRow("too small with whole digits") << "100D-330" << QVariant(0.0);
        QTest::newRow("large exponent, small mantissa") << "0.001E310" << QVariant(1e307);
        QTest::newRow("too large exponent, negative") << "-1E999" << QVariant();
        QTest::newRow("too many digits") << QString(400, QLatin1Char('9')) << QVariant();
        QTest::newRow("too many hex digits") << "&H" + QString(300, QLatin1Char('F')) << QVariant();
    }

    void storedNumbers()
    {
        QFETCH(QString, text);
        const std::optional<double> number = leadingNumber(text);
        QTEST(number ? QVariant(*number) : QVariant(), "value");
    }
};

QTEST_GUILESS_MAIN(TestLogStore)
#include "tst_logstore.moc"
