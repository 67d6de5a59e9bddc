#include "common/error.h"
#include "recordlog/flexgridview.h"
#include "recordlog/recordlog.h"
#include "storefixture.h"
#include "support/fakes.h"

#include <QScrollBar>

namespace {

// A source of rows "r<n>" that counts its reads.
class CountingSource : public FlexGridSource {
public:
    explicit CountingSource(qint64 count) : m_count(count) {}
    qint64 recordCount() const override { return m_count; }
    QList<QStringList> readRows(qint64 first, int count) override
    {
        ++reads;
        QList<QStringList> rows;
        for (qint64 r = first; r < std::min(first + count, m_count); ++r)
            rows.append(QStringList(6, QStringLiteral("r%1").arg(r + 1)));
        return rows;
    }
    qint64 m_count = 0;
    int reads = 0;
};

} // namespace

class TestFlexGrid : public QObject {
    Q_OBJECT
private slots:
    void cellsRowsAndClear()
    {
        FlexGrid fg;
        QCOMPARE(fg.Rows(), 2);
        QCOMPARE(fg.rowCount(), 1);
        fg.setTextMatrix(0, 1, QStringLiteral("head"));
        fg.setRows(5);
        fg.setTextMatrix(4, 5, QStringLiteral("x"));
        QCOMPARE(fg.data(fg.index(3, 5)).toString(), QStringLiteral("x"));
        QCOMPARE(fg.headerData(1, Qt::Horizontal).toString(), QStringLiteral("head"));
        QVERIFY_THROWS_EXCEPTION(StationError, fg.TextMatrix(5, 0));
        QVERIFY_THROWS_EXCEPTION(StationError, fg.setTextMatrix(0, 6, {}));
        QVERIFY_THROWS_EXCEPTION(StationError, fg.setRows(0));

        fg.setRows(4); // a shrunk row loses its text
        fg.setRows(5);
        QCOMPARE(fg.TextMatrix(4, 5), QString());

        fg.setRow(2);
        fg.setCol(3);
        fg.setCellFontBold(true);
        QVERIFY(fg.CellFontBold());
        QVERIFY(fg.isBold(2, 3));
        QVERIFY(!fg.isBold(3, 2));

        fg.setTextMatrix(2, 2, QStringLiteral("y"));
        fg.Clear();
        QCOMPARE(fg.Rows(), 5);
        QCOMPARE(fg.TextMatrix(0, 1), QString());
        QCOMPARE(fg.TextMatrix(2, 2), QString());
    }

    void alignmentCodes_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("alignment");
        QTest::newRow("left top") << 0 << "a" << int(Qt::AlignLeft | Qt::AlignTop);
        QTest::newRow("centre top") << 3 << "a" << int(Qt::AlignHCenter | Qt::AlignTop);
        QTest::newRow("centre centre") << 4 << "a" << int(Qt::AlignHCenter | Qt::AlignVCenter);
        QTest::newRow("right bottom") << 8 << "a" << int(Qt::AlignRight | Qt::AlignBottom);
        QTest::newRow("general text") << 9 << "a" << int(Qt::AlignLeft | Qt::AlignVCenter);
        QTest::newRow("general number") << 9 << " 2.5" << int(Qt::AlignRight | Qt::AlignVCenter);
    }

    void alignmentCodes()
    {
        QFETCH(int, code);
        QFETCH(QString, text);
        QFETCH(int, alignment);
        QCOMPARE(int(FlexGrid::alignment(code, text)), alignment);
    }

    // Listed rows come from the source in blocks; written cells lie above
    // them; past the overlay limit old written rows show the source again.
    void sourceAndOverlay()
    {
        FlexGrid fg;
        auto source = std::make_shared<CountingSource>(1000);
        fg.listRecords(source);
        QCOMPARE(fg.Rows(), 1002);
        QCOMPARE(fg.TextMatrix(1000, 3), QStringLiteral("r1000"));
        QCOMPARE(fg.TextMatrix(1001, 3), QString());
        for (int r = 1; r <= 128; ++r)
            fg.TextMatrix(r, 0);
        QCOMPARE(source->reads, 2); // row 1000's block, then rows 1..128 in one

        fg.setOverlayLimit(2);
        for (int r = 10; r <= 13; ++r)
            fg.setTextMatrix(r, 2, QStringLiteral("w%1").arg(r));
        QCOMPARE(fg.overlayRows(), 2u);
        QCOMPARE(fg.TextMatrix(10, 2), QStringLiteral("r10"));
        QCOMPARE(fg.TextMatrix(13, 2), QStringLiteral("w13"));
        QCOMPARE(fg.TextMatrix(13, 3), QStringLiteral("r13"));

        // Rows past the source's records are kept whatever the limit.
        fg.setTextMatrix(1001, 0, QStringLiteral("a"));
        fg.setTextMatrix(1001, 1, QStringLiteral("b"));
        fg.setRows(1003);
        fg.setTextMatrix(1002, 0, QStringLiteral("c"));
        QCOMPARE(fg.TextMatrix(1001, 0), QStringLiteral("a"));

        fg.Clear();
        QCOMPARE(fg.TextMatrix(5, 0), QString());
    }

    // The grid of a station with a million records: listed at once, the
    // empty row after the last, a commit after it, then delete-all.
    void millionRows()
    {
        StoreFixture store;
        store.create(1000000);
        FakeMessageBoxes boxes;
        RecordLog log(store.dir(), boxes);
        log.setFlex();
        log.fillGrid();
        FlexGrid &fg = log.fg();
        QCOMPARE(fg.Rows(), 1000002);
        QCOMPARE(fg.rowCount(), 1000001);
        QCOMPARE(log.totalrec().text(), QStringLiteral("Total Records: 1000000"));
        QCOMPARE(fg.TextMatrix(1000000, 0), QStringLiteral("1000000"));
        QCOMPARE(fg.TextMatrix(999999, 0), QStringLiteral("999999"));
        QCOMPARE(fg.TextMatrix(32768, 0), QStringLiteral("32768"));
        for (int c = 0; c < 6; ++c)
            QCOMPARE(fg.TextMatrix(1000001, c), QString());

        FlexGridView view(fg);
        view.resize(465, 585);
        view.show();
        QVERIFY(view.model()->rowCount() <= view.visibleRows() + 2);
        QCOMPARE(view.verticalScrollBar()->maximum(), 1000001 - view.visibleRows());
        view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
        QCOMPARE(view.topRow(), 1000002 - view.visibleRows());
        const QModelIndex last = view.model()->index(view.visibleRows() - 2, 0);
        QCOMPARE(view.model()->data(last).toString(), QStringLiteral("1000000"));
        QCOMPARE(view.model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Sr No"));

        log.commit(
            {QStringLiteral("  1"), QStringLiteral("  2"), QStringLiteral("  3"), QStringLiteral("  4")});
        QCOMPARE(fg.Rows(), 1000003);
        QCOMPARE(fg.TextMatrix(1000001, 0), QStringLiteral("1000001"));
        QCOMPARE(view.verticalScrollBar()->maximum(), 1000002 - view.visibleRows());

        boxes.answerNext(MsgAnswer::Yes);
        log.Command1_Click();
        QCOMPARE(fg.Rows(), 2);
        QCOMPARE(fg.rowCount(), 1);
        QCOMPARE(fg.TextMatrix(1, 0), QString());
        QCOMPARE(view.verticalScrollBar()->maximum(), 0);
        QCOMPARE(view.model()->rowCount(), 1);
        QCOMPARE(store.column(QStringLiteral("SELECT count(*) FROM log")), QStringList{"0"});
    }
};

QTEST_MAIN(TestFlexGrid)
#include "tst_flexgrid.moc"
