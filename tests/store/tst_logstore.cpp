#include "common/error.h"
#include "store/storetext.h"
#include "support/storefixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSemaphore>

#include <chrono>
#include <thread>

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
    void openErrors_data()
    {
        QTest::addColumn<QString>("setup"); // a statement, or "file:" and the file's raw content
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("named"); // what the description names besides the path
        QTest::newRow("missing file") << "" << ErrorCode::StoreMissing << "";
        QTest::newRow("not a database") << "file:a text file, not a store\n"
                                        << ErrorCode::StoreNotDatabase << "";
        QTest::newRow("missing table") << "CREATE TABLE other (x)" << ErrorCode::TableMissing << "log";
        QTest::newRow("missing field") << "CREATE TABLE log (\"Sr No\", TimeAndDate, Temp1, Temp2, Temp4)"
                                       << ErrorCode::FieldMissing << "Temp3";
    }

    void openErrors()
    {
        QFETCH(QString, setup);
        QFETCH(QString, named);
        StoreFixture store;
        QFile file(store.path());
        if (setup.startsWith(u"file:"))
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(setup.mid(5).toUtf8()) >= 0);
        else if (!setup.isEmpty())
            store.sql({setup});
        file.close();
        const QStringList before = store.files();
        const QByteArray content = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        file.close();
        try {
            store.records();
            QFAIL("the store opened");
        } catch (const StationError &e) {
            QTEST(e.error().number, "number");
            QVERIFY2(e.error().description.contains(store.path()) && e.error().description.contains(named),
                     qPrintable(e.error().description));
        }
        QCOMPARE(store.files(), before); // nothing created, nothing changed
        QCOMPARE(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(), content);
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
};

QTEST_GUILESS_MAIN(TestLogStore)
#include "tst_logstore.moc"
