#include "acquisition/qtserialcomm.h"
#include "app/station.h"
#include "store/logstore.h"
#include "store/storemaintenance.h"
#include "support/fakes.h"
#include "support/ptydevice.h"

#include <QAbstractButton>
#include <QLabel>
#include <QTest>

// The whole station over a real serial line: the window with the QSerialPort
// component on a pseudo-terminal published as COM1 in the application's
// directory, and a fresh store beside it. How the grid lists records, a
// restart and a delete-all are tst_recordlog's.
namespace {

constexpr int timeoutMs = 15000;

// The stored records as "Sr No" and the four numbers, one text each.
QStringList storedRecords(const QString &appDir)
{
    auto rs = LogDatabase::OpenDatabase(storeFilePath(appDir))->OpenRecordset("log");
    QStringList records;
    for (const auto &values : rs->ReadRows(0, rs->RecordCount())) {
        QStringList fields{values[0].toString()};
        for (int k = 2; k < 6; ++k)
            fields << QString::number(values[k].toDouble());
        records << fields.join(u' ');
    }
    return records;
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void framesAreShownListedAndStored()
    {
        PtyDevice device;
        QVERIFY2(device.link.isValid(), qPrintable(device.pty.errorString() + device.link.errorString()));
        const QString appDir = device.dir.path();
        createStore(storeFilePath(appDir));
        FakeMessageBoxes boxes;
        FakeErrorReport report;
        QtSerialComm comm(appDir);
        Station station(comm, appDir, boxes, report, [](int) { QFAIL("the program ended"); });
        QVERIFY(station.Form_Load());
        station.form().show();
        const auto text = [&](const char *control) {
            return station.form().control<QLabel>(control)->text();
        };
        const auto click = [&](const char *name) {
            QTest::mouseClick(station.form().control<QAbstractButton>(name), Qt::LeftButton);
        };

        click("Start");
        const QByteArray frames("N25.3,26.1,24.8,0.52,N1,2,3,4,N7.5,8,9,10,");
        QVERIFY(device.send(frames));
        QTRY_COMPARE_WITH_TIMEOUT(text("totalrec"), "Total Records: 3", timeoutMs);
        QCOMPARE(text("Label1(0)"), "  7.5");
        // Every character was answered by its own poll burst.
        QTRY_COMPARE_WITH_TIMEOUT(device.received(), QByteArray("bcde").repeated(frames.size()), timeoutMs);
        QCOMPARE(storedRecords(appDir), (QStringList{"1 25.3 26.1 24.8 0.52", "2 1 2 3 4", "3 7.5 8 9 10"}));

        // ON on the open port: the relay letter of channel 4 reaches the device.
        device.fromStation.clear();
        click("Command2");
        QTRY_COMPARE_WITH_TIMEOUT(device.received(), QByteArray("e"), timeoutMs);
        station.form().close(); // the unload closes the port
        QVERIFY(!comm.PortOpen());
        QVERIFY(report.errors().isEmpty());
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
