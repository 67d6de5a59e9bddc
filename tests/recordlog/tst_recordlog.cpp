#include "recordlog/recordlog.h"
#include "recordlog/storetext.h"
#include "storefixture.h"
#include "support/fakes.h"

#include <QBuffer>
#include <QFont>
#include <QProcess>

namespace {

// Line noise in Temp1: a number too large for a double, stored as null.
const std::array<QString, 4> Labels{QStringLiteral("  1E999"), QStringLiteral("  25.3"),
                                    QStringLiteral("  3 4"), QStringLiteral("  abc")};
const QDateTime When(QDate(2026, 3, 14), QTime(15, 9, 26));

QStringList gridRow(FlexGrid &fg, int row)
{
    QStringList texts;
    for (int c = 0; c < fg.Cols(); ++c)
        texts.append(fg.TextMatrix(row, c));
    return texts;
}

} // namespace

class TestRecordLog : public QObject {
    Q_OBJECT

    // A record log over the fixture's store, opened and listed as at start-up.
    struct Station {
        explicit Station(const StoreFixture &store) : log(store.dir(), boxes)
        {
            log.setClock([] { return When; });
            log.setFlex();
            log.fillGrid();
        }
        FakeMessageBoxes boxes;
        RecordLog log;
    };

private slots:
    // The grid shows the texts as received, the store their numbers; a
    // restart lists the stored values, a null as empty text in its own row,
    // and numbers the next record after them.
    void commitAndRestart()
    {
        StoreFixture store;
        store.create();
        {
            Station s(store);
            QCOMPARE(s.log.totalrec().text(), QString()); // an empty table keeps the caption
            s.log.commit(Labels);
            QCOMPARE(s.log.fg().Rows(), 3);
            QCOMPARE(gridRow(s.log.fg(), 1),
                     (QStringList{"1", dateTimeText(When), "  1E999", "  25.3", "  3 4", "  abc"}));
            QCOMPARE(gridRow(s.log.fg(), 2), QStringList(6, QString()));
            QCOMPARE(s.log.totalrec().text(), QStringLiteral("Total Records: 1"));
        }
        QCOMPARE(store.column(QStringLiteral("SELECT count(*) FROM log WHERE Temp1 IS NULL")),
                 QStringList{"1"});
        QBuffer csv;
        csv.open(QIODevice::WriteOnly);
        exportStore(store.path(), csv);
        QCOMPARE(csv.data().split('\n').value(1), QByteArray("1,2026-03-14T15:09:26,,25.3,34,0\r"));

        Station s(store);
        QCOMPARE(s.log.fg().Rows(), 3);
        QCOMPARE(gridRow(s.log.fg(), 1), (QStringList{"1", dateTimeText(When), "", "25.3", "34", "0"}));
        QCOMPARE(s.log.totalrec().text(), QStringLiteral("Total Records: 1"));
        s.log.commit(Labels); // numbering goes on after the stored record
        QCOMPARE(s.log.fg().TextMatrix(2, 0), QStringLiteral("2"));
        QCOMPARE(s.log.totalrec().text(), QStringLiteral("Total Records: 2"));
        QCOMPARE(store.column(QStringLiteral("SELECT \"Sr No\" FROM log ORDER BY rowid")),
                 (QStringList{"1", "2"}));
    }

    // Also the grid's layout at start and after a delete-all.
    void deleteAll_data()
    {
        QTest::addColumn<int>("records");
        QTest::addColumn<int>("answer");
        QTest::newRow("answered No") << 3 << int(MsgAnswer::No);
        QTest::newRow("answered No, empty table") << 0 << int(MsgAnswer::No);
        QTest::newRow("answered Yes") << 3 << int(MsgAnswer::Yes);
    }

    void deleteAll()
    {
        QFETCH(int, records);
        QFETCH(int, answer);
        StoreFixture store;
        store.create(records);
        Station s(store);
        FlexGrid &fg = s.log.fg();
        const QStringList lastBefore = gridRow(fg, fg.Rows() - 2);
        const QString totalBefore = s.log.totalrec().text();

        s.boxes.answerNext(answer);
        s.log.Command1_Click();
        QCOMPARE(s.boxes.shown().size(), 1);
        QCOMPARE(
            s.boxes.shown().first().prompt,
            QStringLiteral("Continuing this will lead to all the data erased. Do you want to continue?"));
        QCOMPARE(s.boxes.shown().first().title, QStringLiteral("Confirmation Box"));
        QCOMPARE(s.boxes.shown().first().style, 276);

        const int kept = answer == MsgAnswer::Yes ? 0 : records;
        QCOMPARE(fg.Rows(), kept + 2);
        QCOMPARE(gridRow(fg, 0), (QStringList{"Sr No", "Time And Date", "Temp1", "Temp2", "Temp3", "Temp4"}));
        for (int c = 0; c < 6; ++c) {
            QVERIFY(fg.headerData(c, Qt::Horizontal, Qt::FontRole).value<QFont>().bold());
            QCOMPARE(fg.headerData(c, Qt::Horizontal, Qt::TextAlignmentRole).toInt(),
                     int(Qt::AlignHCenter | Qt::AlignTop));
        }
        QCOMPARE(gridRow(fg, kept + 1), QStringList(6, QString()));
        QCOMPARE(store.column(QStringLiteral("SELECT count(*) FROM log")),
                 QStringList{QString::number(kept)});
        if (answer != MsgAnswer::Yes) {
            QCOMPARE(gridRow(fg, fg.Rows() - 2), lastBefore);
            QCOMPARE(s.log.totalrec().text(), totalBefore);
            return;
        }
        QCOMPARE(s.log.totalrec().text(), QStringLiteral("Total Records: 0"));
        s.log.commit(Labels);
        QCOMPARE(fg.TextMatrix(1, 0), QStringLiteral("1"));
        QCOMPARE(store.column(QStringLiteral("SELECT \"Sr No\" FROM log")), QStringList{"1"});
    }

    // A long run keeps the written texts of its latest rows only; older
    // rows show their records as a restart would, also after a start with an
    // empty table.
    // Another program that opens and closes the store while the station
    // holds it (a viewer, the store tool) must not take the station's
    // locks away: its close would then remove the write-ahead log under the
    // station's feet and every later record would be lost.
    void anotherProgramLeavesRecordsInPlace()
    {
        StoreFixture store;
        store.create(3);
        Station s(store);
        const QString tool = qEnvironmentVariable("QF_BIN_DIR") + QStringLiteral("/quillfern-store");
        const auto exported = [&] {
            QProcess other;
            other.start(tool, {QStringLiteral("export"), store.dir()});
            if (!other.waitForFinished(30000) || other.exitCode() != 0)
                return -1;
            return int(other.readAllStandardOutput().count('\n')) - 1; // less the header
        };
        s.log.commit(Labels);
        QCOMPARE(exported(), 4);
        s.log.commit(Labels);
        QCOMPARE(exported(), 5);
    }

    void writtenRowsAreBounded_data()
    {
        QTest::addColumn<int>("records");
        QTest::newRow("empty table") << 0;
        QTest::newRow("one record") << 1;
    }

    void writtenRowsAreBounded()
    {
        QFETCH(int, records);
        StoreFixture store;
        store.create(records);
        Station s(store);
        FlexGrid &fg = s.log.fg();
        fg.TextMatrix(std::max(records, 1), 2); // the last record's block is read before the commits
        fg.setOverlayLimit(2);
        for (int i = 0; i < 4; ++i)
            s.log.commit(Labels);
        QCOMPARE(fg.overlayRows(), 2u);
        QCOMPARE(fg.TextMatrix(records + 1, 3), QStringLiteral("25.3"));
        QCOMPARE(fg.TextMatrix(records + 2, 4), QStringLiteral("34"));
        QCOMPARE(fg.TextMatrix(records + 4, 3), QStringLiteral("  25.3"));
        QCOMPARE(fg.TextMatrix(records + 5, 3), QString());
    }
};

QTEST_MAIN(TestRecordLog)
#include "tst_recordlog.moc"
