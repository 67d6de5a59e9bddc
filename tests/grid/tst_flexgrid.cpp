#include "common/error.h"
#include "grid/flexgridview.h"
#include "support/storefixture.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QStyleFactory>
#include <QStyleOptionHeader>

using namespace qf;

namespace {
// A source of 1000 rows "r<n>" that counts its reads.
struct CountingSource : FlexGridSource {
    qint64 recordCount() const override { return 1000; }
    QList<QStringList> readRows(qint64 first, int count) override
    {
        ++reads;
        QList<QStringList> rows;
        for (qint64 r = first; r < std::min<qint64>(first + count, 1000); ++r)
            rows.append(QStringList(6, QStringLiteral("r%1").arg(r + 1)));
        return rows;
    }
    int reads = 0;
};
} // namespace

class TestFlexGrid : public QObject {
    Q_OBJECT
private slots:
    // Listed rows come from the source in blocks; written cells lie above
    // them (their limit: millionRows); Clear empties all.
    void sourceAndWrittenRows()
    {
        FlexGrid grid;
        QAbstractItemModelTester tester(&grid, QAbstractItemModelTester::FailureReportingMode::QtTest);
        auto source = std::make_shared<CountingSource>();
        grid.listRecords(source);
        QCOMPARE(grid.Rows(), 1002);
        QCOMPARE(grid.TextMatrix(1000, 3), "r1000");
        QCOMPARE(grid.TextMatrix(1001, 3), QString());
        QVERIFY_THROWS_EXCEPTION(StationError, grid.TextMatrix(1002, 0));
        QVERIFY_THROWS_EXCEPTION(StationError, grid.setTextMatrix(0, 6, {}));
        QVERIFY_THROWS_EXCEPTION(StationError, grid.setRows(0));
        for (int r = 1; r <= 128; ++r)
            grid.TextMatrix(r, 0);
        QCOMPARE(source->reads, 2); // row 1000's block, then rows 1..128 in one

        // Rows past the source's records are kept whatever the limit, until
        // the grid shrinks past them.
        grid.setOverlayLimit(1);
        grid.setTextMatrix(1001, 0, "a");
        grid.setRows(1003);
        grid.setTextMatrix(1002, 0, "c");
        QCOMPARE(grid.TextMatrix(1001, 0), "a");
        grid.setRows(1002);
        grid.setRows(1003);
        QCOMPARE(grid.TextMatrix(1002, 0), QString());

        grid.setTextMatrix(0, 0, "head");
        grid.Clear(); // every text, the header's too; the source goes
        QCOMPARE(grid.Rows(), 1003);
        for (const int r : {0, 5, 1001})
            QCOMPARE(grid.TextMatrix(r, 0), QString());
    }

    // The grid of a station with a million records, its window scrolled to
    // the end: listed at once, commits after it, then delete-all and commits
    // into the empty table. A long run keeps the written texts of its latest
    // rows only; older rows show their records as a restart would.
    void millionRows()
    {
        StoreFixture store;
        store.create(1000000);
        ListedLog s(store);
        FlexGrid &grid = s.log.grid();
        QCOMPARE(grid.Rows(), 1000002);
        QCOMPARE(s.total(), "Total Records: 1000000");
        for (const int r : {32768, 999999, 1000000}) // the last record's block is read before the commits
            QCOMPARE(grid.TextMatrix(r, 0), QString::number(r));

        FlexGridView view(grid);
        QAbstractItemModelTester windowTester(view.model(),
                                              QAbstractItemModelTester::FailureReportingMode::QtTest);
        view.resize(465, 585);
        view.show();
        QScrollBar *bar = view.verticalScrollBar();
        QVERIFY(view.model()->rowCount() <= view.visibleRows() + 2);
        QCOMPARE(bar->maximum(), 1000001 - view.visibleRows());
        bar->setValue(bar->maximum());
        QCOMPARE(view.topRow(), 1000002 - view.visibleRows());
        QCOMPARE(view.model()->index(view.visibleRows() - 2, 0).data().toString(), "1000000");
        QCOMPARE(view.model()->headerData(0, Qt::Horizontal).toString(), "Sr No");

        grid.setOverlayLimit(2);
        const auto fourCommits = [&](int first) {
            for (int i = 0; i < 4; ++i)
                s.log.commit({"  1", "  2.5", "  3", "  4"});
            QCOMPARE(grid.overlayRows(), 2u);
            QCOMPARE(grid.TextMatrix(first, 0), QString::number(first)); // evicted: the stored values
            QCOMPARE(grid.TextMatrix(first + 1, 3), "2.5");
            QCOMPARE(grid.TextMatrix(first + 3, 3), "  2.5"); // written
            QCOMPARE(grid.TextMatrix(first + 4, 3), QString());
        };
        fourCommits(1000001);
        QCOMPARE(bar->maximum(), 1000005 - view.visibleRows());

        s.boxes.answerNext(MsgAnswer::Yes);
        s.log.confirmDeleteAll();
        QCOMPARE(bar->maximum(), 0);
        QCOMPARE(view.model()->rowCount(), 1);
        fourCommits(1);
    }

    // The style draws a header cell's text inside its margin; the header is
    // high enough for the bold text under every style, also one set later.
    void headerTextFits()
    {
        FlexGrid grid;
        FlexGridView view(grid);
        QFont bold = view.font();
        bold.setBold(true);
        for (const QString &style : QStyleFactory::keys()) {
            QApplication::setStyle(style);
            QStyleOptionHeader option;
            option.initFrom(view.horizontalHeader());
            option.rect = QRect(0, 0, 100, view.horizontalHeader()->height());
            const QRect label =
                view.style()->subElementRect(QStyle::SE_HeaderLabel, &option, view.horizontalHeader());
            QVERIFY2(label.height() >= QFontMetrics(bold).height(), qPrintable(style));
        }
    }
};

QTEST_MAIN(TestFlexGrid)
#include "tst_flexgrid.moc"
