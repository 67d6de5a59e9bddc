#include "store/storetext.h"
#include "support/storefixture.h"

#include <QFont>
#include <QProcess>

using namespace qf;

namespace {

// Line noise in Temp1: a number too large for a double, stored as null.
const std::array<QString, 4> Labels{"  1E999", "  25.3", "  3 4", "  abc"};
const QDateTime When(QDate(2026, 3, 14), QTime(15, 9, 26));
const QString Header = "Sr No|Time And Date|Temp1|Temp2|Temp3|Temp4", Empty = "|||||";

// The grid's texts, one row each, "|" between cells.
QStringList gridText(FlexGrid &grid)
{
    QStringList rows;
    for (int r = 0; r < grid.Rows(); ++r) {
        QStringList cells;
        for (int c = 0; c < grid.Cols(); ++c)
            cells << grid.TextMatrix(r, c);
        rows << cells.join(u'|');
    }
    return rows;
}

} // namespace

class TestRecordLog : public QObject {
    Q_OBJECT
private slots:
    // The grid shows the texts as received, the store their numbers; a
    // restart lists the stored values, a null as empty text in its own row,
    // and numbers the next record after them.
    //
    // The store tool exports the store beside the station: another program
    // that opens and closes the store (a viewer, the tool) must not take the
    // station's locks away, or its close would remove the write-ahead log
    // under the station's feet and every later record would be lost.
    //
    // Then delete-all answered No and Yes, with the grid's layout before and
    // after it (the records after it are numbered from 1: tst_flexgrid's
    // millionRows).
    void commitRestartAndDeleteAll()
    {
        StoreFixture store;
        store.create();
        const QString schema = "SELECT sql FROM sqlite_master ORDER BY name";
        const QStringList before = store.column(schema);
        const QString when = dateTimeText(When);
        {
            ListedLog s(store);
            // One reading of the clock per record: the grid and the store
            // show the same time although the clock moves on between reads.
            s.log.setClock([reads = 0]() mutable { return When.addSecs(reads++); });
            QCOMPARE(s.total(), QString()); // an empty table keeps the caption
            s.log.commit(Labels);
            QCOMPARE(gridText(s.log.grid()),
                     (QStringList{Header, "1|" + when + "|  1E999|  25.3|  3 4|  abc", Empty}));
            QCOMPARE(s.total(), "Total Records: 1");
        }
        QCOMPARE(store.column("SELECT count(*) FROM log WHERE Temp1 IS NULL"), QStringList{"1"});

        ListedLog s(store, When);
        FlexGrid &grid = s.log.grid();
        QCOMPARE(gridText(grid), (QStringList{Header, "1|" + when + "||25.3|34|0", Empty}));
        QCOMPARE(s.total(), "Total Records: 1");
        s.log.commit(Labels); // numbering goes on after the stored record
        QCOMPARE(s.total(), "Total Records: 2");
        QProcess tool;
        tool.start(qEnvironmentVariable("QF_BIN_DIR") + "/quillfern-store", {"export", store.dir()});
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.readAllStandardOutput().split('\n').value(1),
                 QByteArray("1,2026-03-14T15:09:26,,25.3,34,0\r"));
        s.log.commit(Labels);
        QCOMPARE(store.column("SELECT \"Sr No\" FROM log ORDER BY rowid"), (QStringList{"1", "2", "3"}));

        const QStringList listed = gridText(grid);
        for (const MsgAnswer answer : {MsgAnswer::No, MsgAnswer::Yes}) {
            s.boxes.answerNext(answer);
            s.log.confirmDeleteAll();
            const bool yes = answer == MsgAnswer::Yes;
            QCOMPARE(gridText(grid), (yes ? QStringList{Header, Empty} : listed));
            QCOMPARE(s.total(), yes ? "Total Records: 0" : "Total Records: 3");
            QCOMPARE(store.column("SELECT count(*) FROM log"), QStringList{yes ? "0" : "3"});
            for (int c = 0; c < 6; ++c) {
                QVERIFY(grid.headerData(c, Qt::Horizontal, Qt::FontRole).value<QFont>().bold());
                QCOMPARE(grid.headerData(c, Qt::Horizontal, Qt::TextAlignmentRole).toInt(),
                         int(Qt::AlignHCenter | Qt::AlignTop));
            }
        }
        const QString prompt = "Continuing this will lead to all the data erased. Do you want to continue?";
        const MsgStyles style = MsgStyle::YesNo | MsgStyle::Critical | MsgStyle::DefaultButton2;
        QCOMPARE(s.boxes.shown(), Boxes(2, {prompt, style, "Confirmation Box"}));
        QCOMPARE(checkStore(store.path()), QStringList());
        QCOMPARE(store.column(schema), before); // table log kept, count rebuilt alike
    }
};

QTEST_MAIN(TestRecordLog)
#include "tst_recordlog.moc"
