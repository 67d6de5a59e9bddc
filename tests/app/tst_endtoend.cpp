#include "acquisition/qtserialcomm.h"
#include "app/station.h"
#include "portlink.h"
#include "pseudoterminal.h"
#include "recordlog/logstore.h"
#include "recordlog/storemaintenance.h"
#include "support/fakes.h"

#include <QAbstractButton>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

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

// The device's end of the line.
struct Device {
    bool send(const QByteArray &bytes)
    {
        return ::write(pty.masterFd(), bytes.constData(), bytes.size()) == bytes.size();
    }
    // Everything the station has written since the last clear.
    const QByteArray &received()
    {
        char buffer[512];
        ssize_t n = 0;
        while ((n = ::read(pty.masterFd(), buffer, sizeof buffer)) > 0)
            fromStation.append(buffer, int(n));
        return fromStation;
    }

    PseudoTerminal pty;
    QByteArray fromStation;
};

// One run of the program: the component and the window over an application
// directory, loaded and shown.
struct Run {
    Run(const QString &appDir, FakeMessageBoxes &boxes, FakeErrorReport &report)
        : comm(appDir), station(comm, appDir, boxes, report, [](int) { QFAIL("the program ended"); })
    {
        loaded = station.Form_Load();
        station.form().show();
    }
    QString text(const char *control) { return station.form().control<QLabel>(control)->text(); }
    void click(const char *control)
    {
        QTest::mouseClick(station.form().control<QAbstractButton>(control), Qt::LeftButton);
    }

    QtSerialComm comm;
    Station station;
    bool loaded = false;
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
    Device device;
    QVERIFY2(device.pty.isValid(), qPrintable(device.pty.errorString()));
    QTemporaryDir appDir;
    createStore(storeFilePath(appDir.path()));
    PortLink com1(appDir.path(), 1, device.pty.slavePath());
    QVERIFY2(com1.isValid(), qPrintable(com1.errorString()));
    FakeMessageBoxes boxes;
    FakeErrorReport report;

    const QByteArray frames("N25.3,26.1,24.8,0.52,"
                            "N1,2,3,4,"
                            "N7.5,8,9,10,");
    {
        Run run(appDir.path(), boxes, report);
        QVERIFY(run.loaded);
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
        QCOMPARE(grid.TextMatrix(1, 2), QStringLiteral("  25.3"));
        QCOMPARE(grid.TextMatrix(3, 0), QStringLiteral("3"));
        QCOMPARE(grid.TextMatrix(4, 2), QString());

        const auto stored = storedRecords(appDir.path());
        QCOMPARE(stored.size(), size_t(3));
        QCOMPARE(stored[0][0].toString(), QStringLiteral("1"));
        QCOMPARE(stored[2][2].toDouble(), 7.5);
        QCOMPARE(stored[2][5].toDouble(), 10.0);

        // ON on the open port: the relay letter of channel 4 reaches the device.
        device.fromStation.clear();
        run.click("Command2");
        QTRY_COMPARE_WITH_TIMEOUT(device.received(), QByteArray("e"), timeoutMs);
        run.station.form().close(); // the unload closes the port
        QVERIFY(!run.comm.PortOpen());
    }

    // A restart lists what was stored, then a confirmed delete-all empties
    // grid and store, and numbering starts again at 1.
    {
        Run run(appDir.path(), boxes, report);
        QVERIFY(run.loaded);
        FlexGrid &grid = run.station.log().fg();
        QCOMPARE(run.text("totalrec"), QStringLiteral("Total Records: 3"));
        QCOMPARE(grid.Rows(), 5);
        QCOMPARE(grid.TextMatrix(3, 2).toDouble(), 7.5);

        boxes.answerNext(MsgAnswer::Yes);
        run.click("Command1");
        QCOMPARE(boxes.shown().last().title, QStringLiteral("Confirmation Box"));
        QCOMPARE(run.text("totalrec"), QStringLiteral("Total Records: 0"));
        QCOMPARE(grid.Rows(), 2);
        QVERIFY(storedRecords(appDir.path()).empty());

        run.click("Start");
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
