#include "common/error.h"
#include "recordlog/flexgridview.h"
#include "recordlog/recordlog.h"
#include "storefixture.h"
#include "support/fakes.h"

#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QStyleFactory>
#include <QStyleOptionHeader>

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
    // them; past the overlay limit old written rows show the source again.
    void sourceAndOverlay()
    {
        FlexGrid fg;
        auto source = std::make_shared<CountingSource>();
        fg.listRecords(source);
        QCOMPARE(fg.Rows(), 1002);
        QCOMPARE(fg.TextMatrix(1000, 3), QStringLiteral("r1000"));
        QCOMPARE(fg.TextMatrix(1001, 3), QString());
        QVERIFY_THROWS_EXCEPTION(StationError, fg.TextMatrix(1002, 0));
        QVERIFY_THROWS_EXCEPTION(StationError, fg.setTextMatrix(0, 6, {}));
        QVERIFY_THROWS_EXCEPTION(StationError, fg.setRows(0));
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

        // Rows past the source's records are kept whatever the limit, until
        // the grid shrinks past them.
        fg.setTextMatrix(1001, 0, QStringLiteral("a"));
        fg.setTextMatrix(1001, 1, QStringLiteral("b"));
        fg.setRows(1003);
        fg.setTextMatrix(1002, 0, QStringLiteral("c"));
        QCOMPARE(fg.TextMatrix(1001, 0), QStringLiteral("a"));
        fg.setRows(1002);
        fg.setRows(1003);
        QCOMPARE(fg.TextMatrix(1002, 0), QString());

        fg.setTextMatrix(0, 1, QStringLiteral("head"));
        fg.Clear(); // every text, the header's too; the source goes
        QCOMPARE(fg.Rows(), 1003);
        QCOMPARE(fg.TextMatrix(0, 1), QString());
        QCOMPARE(fg.TextMatrix(1001, 0), QString());
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
        QCOMPARE(log.totalrec().text(), QStringLiteral("Total Records: 1000000"));
        for (const int r : {32768, 999999, 1000000})
            QCOMPARE(fg.TextMatrix(r, 0), QString::number(r));
        for (int c = 0; c < 6; ++c)
            QCOMPARE(fg.TextMatrix(1000001, c), QString());

        FlexGridView view(fg);
        view.resize(465, 585);
        view.show();
        QScrollBar *bar = view.verticalScrollBar();
        QVERIFY(view.model()->rowCount() <= view.visibleRows() + 2);
        QCOMPARE(bar->maximum(), 1000001 - view.visibleRows());
        bar->setValue(bar->maximum());
        QCOMPARE(view.topRow(), 1000002 - view.visibleRows());
        const QModelIndex last = view.model()->index(view.visibleRows() - 2, 0);
        QCOMPARE(view.model()->data(last).toString(), QStringLiteral("1000000"));
        QCOMPARE(view.model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Sr No"));

        log.commit(
            {QStringLiteral("  1"), QStringLiteral("  2"), QStringLiteral("  3"), QStringLiteral("  4")});
        QCOMPARE(fg.TextMatrix(1000001, 0), QStringLiteral("1000001"));
        QCOMPARE(bar->maximum(), 1000002 - view.visibleRows());

        boxes.answerNext(MsgAnswer::Yes);
        log.Command1_Click();
        QCOMPARE(fg.Rows(), 2);
        QCOMPARE(fg.TextMatrix(1, 0), QString());
        QCOMPARE(bar->maximum(), 0);
        QCOMPARE(view.model()->rowCount(), 1);
    }

    // The style draws a header cell's text inside its margin; the header is
    // high enough for the bold text under every style, also one set later.
    void headerTextFits()
    {
        FlexGrid fg;
        FlexGridView view(fg);
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
