#include "support/stationrig.h"

using namespace std::chrono_literals;

// A frame is acknowledged (the poll burst after its last comma) only once
// its record is stored, through the station over the real store.
namespace {
constexpr qsizetype BurstSize = 4;

struct Rig : StationRig {
    Rig()
    {
        click("Start");
        station.log().setStoreWait(10ms);
    }
    qsizetype bursts() const { return comm.sent().size() / BurstSize; }
};
} // namespace

class TestHeldFrame : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void lockedStoreHoldsTheAcknowledgement()
    {
        Rig rig;
        QSqlDatabase other = rig.store.connect("other");
        QVERIFY(QSqlQuery(other).exec("BEGIN IMMEDIATE"));
        rig.comm.receive("N1,2,3,4,");
        QTRY_COMPARE(rig.comm.waiting(), 0);
        QCOMPARE(rig.bursts(), 8); // every character but the last comma
        QCOMPARE(rig.boxes.openNotices(), 1);
        rig.comm.receive(",");           // the device sends its last character again
        QTest::qWait(1200);              // a try fails meanwhile
        QCOMPARE(rig.comm.waiting(), 1); // not read, not polled
        QCOMPARE(rig.bursts(), 8);
        QVERIFY(QSqlQuery(other).exec("COMMIT"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.bursts(), 9, 3000);
        QCOMPARE(rig.boxes.openNotices(), 0);
        QCOMPARE(rig.store.column("SELECT \"Sr No\" FROM log"), QStringList{"1"});
        rig.comm.receive("N5,6,7,8,"); // logging goes on
        QTRY_COMPARE(rig.store.column("SELECT count(*) FROM log"), QStringList{"2"});
        QVERIFY(rig.report.errors().isEmpty());
        other = {};
        QSqlDatabase::removeDatabase("other");
    }

    void lastingFaultClosesThePortFirst()
    {
        Rig rig;
        QFile::remove(rig.store.path() + "-wal");
        rig.comm.receive("N1,2,3,4,");
        QTRY_COMPARE(rig.report.errors().size(), 1);
        QCOMPARE(rig.report.errors().front().number, ErrorCode::StoreFailed);
        QVERIFY(!rig.comm.PortOpen());
        QCOMPARE(rig.bursts(), 8);
    }
};

QTEST_MAIN(TestHeldFrame)
#include "tst_heldframe.moc"
