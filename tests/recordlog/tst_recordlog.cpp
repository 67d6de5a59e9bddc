#include "common/error.h"
#include "recordlog/recordlog.h"
#include "recordlog/storetext.h"
#include "storefixture.h"
#include "support/fakes.h"

#include <QFont>

namespace {

const std::array<QString, 4> Labels{QStringLiteral("  25.3"), QStringLiteral("  3 4"),
                                    QStringLiteral("  12.5.3"), QStringLiteral("  abc")};
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
    void startWithEmptyTable()
    {
        StoreFixture store;
        store.create();
        Station s(store);
        FlexGrid &fg = s.log.fg();
        QCOMPARE(fg.Rows(), 2);
        QCOMPARE(gridRow(fg, 0), (QStringList{"Sr No", "Time And Date", "Temp1", "Temp2", "Temp3", "Temp4"}));
        QCOMPARE(gridRow(fg, 1), QStringList(6, QString()));
        QCOMPARE(s.log.totalrec().text(), QString()); // keeps its design-time caption
        for (int c = 0; c < 6; ++c) {
            QVERIFY(fg.isBold(0, c));
            QCOMPARE(fg.ColAlignment(c), 3);
            QCOMPARE(fg.headerData(c, Qt::Horizontal, Qt::FontRole).value<QFont>().bold(), true);
        }
        QCOMPARE(fg.ColWidth(0), 700);
        QCOMPARE(fg.ColWidth(1), 2000);
        QCOMPARE(fg.ColWidth(5), 900);
        QCOMPARE(fg.Row(), 0);
        QCOMPARE(fg.Col(), 5);
        QCOMPARE(fg.data(fg.index(0, 2), Qt::TextAlignmentRole).toInt(),
                 int(Qt::AlignHCenter | Qt::AlignTop));
    }

    void commitAndRestart()
    {
        StoreFixture store;
        store.create();
        {
            Station s(store);
            s.log.commit(Labels);
            FlexGrid &fg = s.log.fg();
            QCOMPARE(fg.Rows(), 3);
            QCOMPARE(gridRow(fg, 1),
                     (QStringList{"1", dateTimeText(When), "  25.3", "  3 4", "  12.5.3", "  abc"}));
            QCOMPARE(gridRow(fg, 2), QStringList(6, QString()));
            QCOMPARE(s.log.totalrec().text(), QStringLiteral("Total Records: 1"));
        }
        QCOMPARE(
            store.column(QStringLiteral("SELECT \"Sr No\" || '|' || TimeAndDate || '|' || Temp1 || '|' || "
                                        "Temp2 || '|' || Temp3 || '|' || Temp4 FROM log")),
            QStringList{"1|2026-03-14 15:09:26|25.3|34.0|12.5|0.0"});

        // A restart lists the stored values' text forms.
        Station s(store);
        QCOMPARE(s.log.fg().Rows(), 3);
        QCOMPARE(gridRow(s.log.fg(), 1), (QStringList{"1", dateTimeText(When), "25.3", "34", "12.5", "0"}));
        QCOMPARE(s.log.totalrec().text(), QStringLiteral("Total Records: 1"));
    }

    void numberingGoesOnAfterStoredRecords()
    {
        StoreFixture store;
        store.create(5);
        Station s(store);
        QCOMPARE(s.log.fg().Rows(), 7);
        QCOMPARE(s.log.totalrec().text(), QStringLiteral("Total Records: 5"));
        QCOMPARE(s.log.fg().TextMatrix(5, 0), QStringLiteral("5"));
        s.log.commit(Labels);
        QCOMPARE(s.log.fg().TextMatrix(6, 0), QStringLiteral("6"));
        QCOMPARE(s.log.totalrec().text(), QStringLiteral("Total Records: 6"));
        QCOMPARE(store.column(QStringLiteral("SELECT \"Sr No\" FROM log ORDER BY rowid DESC LIMIT 1")),
                 QStringList{"6"});
    }

    // Records with an empty or null Temp1 (never committed by the station,
    // but possible in a file) keep their rows; a later commit takes none.
    void emptyTemp1KeepsItsRow()
    {
        StoreFixture store;
        store.create(2);
        store.sql({QStringLiteral("INSERT INTO log VALUES ('3', NULL, NULL, NULL, NULL, NULL)"),
                   QStringLiteral("INSERT INTO log VALUES ('4', '2026-01-01 00:00:00', '', 1, 2, 3)")});
        Station s(store);
        QCOMPARE(s.log.fg().Rows(), 6);
        QCOMPARE(gridRow(s.log.fg(), 3), (QStringList{"3", "", "", "", "", ""}));
        QCOMPARE(s.log.fg().TextMatrix(4, 0), QStringLiteral("4"));
        s.log.commit(Labels);
        QCOMPARE(s.log.fg().TextMatrix(4, 0), QStringLiteral("4"));
        QCOMPARE(s.log.fg().TextMatrix(5, 0), QStringLiteral("5"));
    }

    void deleteAll_data()
    {
        QTest::addColumn<int>("records");
        QTest::addColumn<int>("answer");
        QTest::newRow("answered No") << 3 << int(MsgAnswer::No);
        QTest::newRow("answered Yes") << 3 << int(MsgAnswer::Yes);
        QTest::newRow("answered Yes, empty table") << 0 << int(MsgAnswer::Yes);
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

        if (answer != MsgAnswer::Yes) {
            QCOMPARE(fg.Rows(), records + 2);
            QCOMPARE(gridRow(fg, fg.Rows() - 2), lastBefore);
            QCOMPARE(s.log.totalrec().text(), totalBefore);
            QCOMPARE(store.column(QStringLiteral("SELECT count(*) FROM log")),
                     QStringList{QString::number(records)});
            return;
        }
        QCOMPARE(fg.Rows(), 2);
        QCOMPARE(fg.TextMatrix(0, 1), QStringLiteral("Time And Date"));
        QVERIFY(fg.isBold(0, 1));
        QCOMPARE(gridRow(fg, 1), QStringList(6, QString()));
        QCOMPARE(s.log.totalrec().text(), QStringLiteral("Total Records: 0"));
        QCOMPARE(store.column(QStringLiteral("SELECT count(*) FROM log")), QStringList{"0"});
        s.log.commit(Labels);
        QCOMPARE(fg.TextMatrix(1, 0), QStringLiteral("1"));
        QCOMPARE(store.column(QStringLiteral("SELECT \"Sr No\" FROM log")), QStringList{"1"});
    }

    // A long run keeps the written texts of its latest rows only; older
    // rows show their records as a restart would, also after a start with an
    // empty table.
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
        QCOMPARE(fg.TextMatrix(records + 1, 2), QStringLiteral("25.3"));
        QCOMPARE(fg.TextMatrix(records + 2, 3), QStringLiteral("34"));
        QCOMPARE(fg.TextMatrix(records + 4, 2), QStringLiteral("  25.3"));
        QCOMPARE(fg.TextMatrix(records + 5, 2), QString());
    }

    void missingStoreLeavesGridAlone()
    {
        StoreFixture store;
        FakeMessageBoxes boxes;
        RecordLog log(store.dir(), boxes);
        try {
            log.setFlex();
            QFAIL("opened a missing store");
        } catch (const StationError &e) {
            QCOMPARE(e.error().number, ErrorCode::StoreMissing);
        }
        QCOMPARE(log.fg().TextMatrix(0, 0), QString());
        QVERIFY(store.files().isEmpty());
        QVERIFY_THROWS_EXCEPTION(StationError, log.commit(Labels));
    }
};

QTEST_MAIN(TestRecordLog)
#include "tst_recordlog.moc"
