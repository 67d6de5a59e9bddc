#include "acquisition/qtserialcomm.h"
#include "app/station.h"
#include "pseudoterminal.h"
#include "recordlog/logstore.h"
#include "recordlog/storemaintenance.h"
#include "support/fakes.h"

#include <QAbstractButton>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The whole station over a real serial line: the window with the QSerialPort
// component on a pseudo-terminal published as COM1 in the application's
// directory, and a fresh store beside it.
class TestEndToEnd : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void framesAreShownListedAndStored();
};

namespace {

constexpr int timeoutMs = 15000;

// One run of the program: the component and the window over an application
// directory. Boxes are answered from the script of `boxes`.
struct Run {
    Run(const QString &appDir, FakeMessageBoxes &boxes, FakeErrorReport &report)
        : comm(appDir), station(comm, appDir, boxes, report, [](int) { QFAIL("the program ended"); })
    {
    }

    QString text(const char *control) { return station.form().control<QLabel>(control)->text(); }
    void click(const char *control)
    {
        QTest::mouseClick(station.form().control<QAbstractButton>(control), Qt::LeftButton);
    }

    QtSerialComm comm;
    Station station;
};

std::vector<LogRecordset::Values> storedRecords(const QString &appDir)
{
    auto db = LogDatabase::OpenDatabase(storeFilePath(appDir));
    auto rs = db->OpenRecordset(QStringLiteral("log"));
    return rs->ReadRows(0, rs->RecordCount());
}

} // namespace

void TestEndToEnd::framesAreShownListedAndStored()
{
    PseudoTerminal device;
    QVERIFY(device.isOpen());
    QTemporaryDir appDir;
    createStore(storeFilePath(appDir.path()));
    QVERIFY(QFile::link(device.portPath(), appDir.filePath(QStringLiteral("COM1"))));
    FakeMessageBoxes boxes;
    FakeErrorReport report;

    const QByteArray frames("N25.3,26.1,24.8,0.52,"
                            "N1,2,3,4,"
                            "N7.5,8,9,10,");
    {
        Run run(appDir.path(), boxes, report);
        QVERIFY(run.station.Form_Load());
        run.station.form().show();
        QVERIFY(QTest::qWaitForWindowExposed(&run.station.form()));
        run.click("Start");
        QVERIFY(run.comm.PortOpen());

        QVERIFY(device.send(frames));
        QTRY_COMPARE_WITH_TIMEOUT(run.text("totalrec"), QStringLiteral("Total Records: 3"), timeoutMs);
        QCOMPARE(run.text("Label1(0)"), QStringLiteral("  7.5"));
        QCOMPARE(run.text("Label1(3)"), QStringLiteral("  10"));
        // Every character was answered by its own poll burst.
        QTRY_COMPARE_WITH_TIMEOUT(device.received(), QByteArray("bcde").repeated(frames.size()), timeoutMs);

        FlexGrid &grid = run.station.log().fg();
        QCOMPARE(grid.Rows(), 5);
        QCOMPARE(grid.TextMatrix(1, 0), QStringLiteral("1"));
        QCOMPARE(grid.TextMatrix(1, 2), QStringLiteral("  25.3"));
        QCOMPARE(grid.TextMatrix(2, 5), QStringLiteral("  4"));
        QCOMPARE(grid.TextMatrix(3, 0), QStringLiteral("3"));
        QCOMPARE(grid.TextMatrix(4, 2), QString());

        const auto stored = storedRecords(appDir.path());
        QCOMPARE(stored.size(), size_t(3));
        QCOMPARE(stored[0][0].toString(), QStringLiteral("1"));
        QCOMPARE(stored[0][2].toDouble(), 25.3);
        QCOMPARE(stored[2][2].toDouble(), 7.5);
        QCOMPARE(stored[2][5].toDouble(), 10.0);

        // ON on the open port: the relay letter of channel 4 reaches the device.
        device.clearReceived();
        run.click("Command2");
        QTRY_COMPARE_WITH_TIMEOUT(device.received(), QByteArray("e"), timeoutMs);
        run.station.form().close();
        QVERIFY(!run.comm.PortOpen());
    }

    // A restart lists what was stored, then a confirmed delete-all empties
    // grid and store, and numbering starts again at 1.
    {
        Run run(appDir.path(), boxes, report);
        QVERIFY(run.station.Form_Load());
        run.station.form().show();
        FlexGrid &grid = run.station.log().fg();
        QCOMPARE(run.text("totalrec"), QStringLiteral("Total Records: 3"));
        QCOMPARE(grid.Rows(), 5);
        QCOMPARE(grid.TextMatrix(3, 0), QStringLiteral("3"));
        QCOMPARE(grid.TextMatrix(3, 2).toDouble(), 7.5);

        boxes.answerNext(MsgAnswer::Yes);
        run.click("Command1");
        QCOMPARE(boxes.shown().last().title, QStringLiteral("Confirmation Box"));
        QCOMPARE(run.text("totalrec"), QStringLiteral("Total Records: 0"));
        QCOMPARE(grid.Rows(), 2);
        QVERIFY(storedRecords(appDir.path()).empty());

        run.click("Start");
        device.clearReceived();
        QVERIFY(device.send("N5,6,7,8,"));
        QTRY_COMPARE_WITH_TIMEOUT(run.text("totalrec"), QStringLiteral("Total Records: 1"), timeoutMs);
        const auto stored = storedRecords(appDir.path());
        QCOMPARE(stored.size(), size_t(1));
        QCOMPARE(stored[0][0].toString(), QStringLiteral("1"));
        QCOMPARE(stored[0][3].toDouble(), 6.0);
    }
    QVERIFY(report.errors().isEmpty());
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
