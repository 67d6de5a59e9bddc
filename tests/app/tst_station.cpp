#include "acquisition/fakeserialcomm.h"
#include "app/form1.h"
#include "app/station.h"
#include "recordlog/storemaintenance.h"
#include "support/fakes.h"

#include <QAbstractButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

// The window with its station over the in-memory serial component: the
// states after start-up, what each control reaches and where errors go.
// What the handlers do is tested with each handler; the real serial stack
// and store with the whole station in tst_endtoend.
class TestStation : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startUpStates();
    void clicks_data();
    void clicks();
    void selectorFollowsTheBar();
    void handlerErrorReachesTheReport();
    void deviceLossWarnsOnceAndRunsOn();
};

namespace {

// A loaded, shown window over a fresh store.
struct Rig {
    Rig()
    {
        createStore(storeFilePath(dir.path()));
        loaded = station.Form_Load();
        form.show();
        comm.clearLog();
    }
    QString text(const QString &control) const { return form.control(control)->property("text").toString(); }
    void click(const char *control)
    {
        QTest::mouseClick(form.control<QAbstractButton>(control), Qt::LeftButton);
    }
    // Which of START, STOP and the port selector are enabled.
    QStringList enabledControls() const
    {
        QStringList names{"Start", "stopcmd", "VScroll3"};
        names.removeIf([this](const QString &name) { return !form.control(name)->isEnabled(); });
        return names;
    }

    QTemporaryDir dir;
    FakeSerialComm comm;
    FakeMessageBoxes boxes;
    FakeErrorReport report;
    std::optional<int> endedWith;
    Station station{comm, dir.path(), boxes, report, [this](int status) { endedWith = status; }};
    Form1 &form = station.form();
    bool loaded = false;
};

} // namespace

void TestStation::startUpStates()
{
    Rig rig;
    QVERIFY(rig.loaded);
    QVERIFY(rig.report.errors().isEmpty());
    QCOMPARE(rig.enabledControls(), (QStringList{"Start", "VScroll3"}));
    QCOMPARE(rig.form.control<QScrollBar>("VScroll3")->value(), 1);
    QCOMPARE(rig.text("Text4"), QStringLiteral("1"));
    for (int k = 0; k < 4; ++k) {
        QCOMPARE(rig.text(QStringLiteral("Label1(%1)").arg(k)), QString());
        QCOMPARE(rig.text(QStringLiteral("Label14(%1)").arg(k)), QStringLiteral("°c"));
    }
    QCOMPARE(rig.text("totalrec"), QString()); // an empty store leaves the design's empty caption
    QVERIFY(!rig.comm.PortOpen());
    QCOMPARE(rig.form.focusWidget(), rig.form.control("Text3"));
}

// Each button reaches its handler, seen by what the handler asks of the
// component, the box it shows, whether the program ends, and the controls
// START and STOP enable.
void TestStation::clicks_data()
{
    QTest::addColumn<bool>("startFirst");
    QTest::addColumn<QStringList>("operations");
    QTest::addColumn<QString>("boxTitle");
    QTest::addColumn<int>("endedWith");
    QTest::addColumn<QStringList>("enabled");

    const int runsOn = -1;
    const QStringList stopped{"Start", "VScroll3"};
    const QStringList started{"stopcmd"};
    QTest::newRow("Start") << false
                           << QStringList{"CommPort=1", "Settings=9600,N,8,1", "InputLen=1", "PortOpen=True"}
                           << "" << runsOn << started;
    QTest::newRow("stopcmd") << true << QStringList{"PortOpen=False"} << "" << runsOn << stopped;
    QTest::newRow("Command1") << false << QStringList{} << "Confirmation Box" << runsOn << stopped;
    QTest::newRow("Command2") << false << QStringList{"PortOpen?", "PortOpen=True", "Output=a"} << ""
                              << runsOn << stopped;
    QTest::newRow("Command3") << true << QStringList{"PortOpen?", "PortOpen=False", "Output=a"} << ""
                              << runsOn << started;
    // EXIT ends at once: the unload, which would ask PortOpen, does not run.
    QTest::newRow("exit") << true << QStringList{} << "" << 0 << started;
}

void TestStation::clicks()
{
    QFETCH(bool, startFirst);
    QFETCH(QStringList, operations);
    QFETCH(QString, boxTitle);
    QFETCH(int, endedWith);
    QFETCH(QStringList, enabled);

    Rig rig;
    if (startFirst) {
        rig.click("Start");
        rig.comm.clearLog();
    }
    rig.click(QTest::currentDataTag());

    QCOMPARE(rig.comm.log(), operations);
    QCOMPARE(rig.boxes.shown().size(), boxTitle.isEmpty() ? 0 : 1);
    QCOMPARE(rig.boxes.shown().value(0).title, boxTitle);
    QCOMPARE(rig.endedWith.value_or(-1), endedWith);
    QCOMPARE(rig.enabledControls(), enabled);
    QVERIFY(rig.report.errors().isEmpty());
}

void TestStation::selectorFollowsTheBar()
{
    Rig rig;
    auto *bar = rig.form.control<QScrollBar>("VScroll3");
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCOMPARE(rig.text("Text4"), QStringLiteral("3"));
    rig.click("Start");
    QCOMPARE(rig.comm.log().first(), QStringLiteral("CommPort=3"));
}

void TestStation::handlerErrorReachesTheReport()
{
    Rig rig;
    rig.click("Start");
    const Error failure{ErrorCode::WriteFailed, QStringLiteral("COM1: write failed")};
    rig.comm.failNextOutput(failure);
    rig.comm.receive("x");
    QTRY_COMPARE(rig.report.errors(), QList<Error>{failure});
}

void TestStation::deviceLossWarnsOnceAndRunsOn()
{
    Rig rig;
    rig.click("Start");
    const Error loss{ErrorCode::DeviceLost, QStringLiteral("COM1: the device is gone")};
    rig.comm.loseDevice(loss);
    QTRY_COMPARE(rig.boxes.shown().size(), 1);
    QCOMPARE(rig.boxes.shown().first().prompt, loss.description);
    QCOMPARE(rig.boxes.shown().first().style, MsgStyle::Exclamation);
    QCOMPARE(rig.boxes.shown().first().title, QString());
    QVERIFY(rig.report.errors().isEmpty());
    QVERIFY(!rig.endedWith);

    rig.click("stopcmd");
    rig.click("Start");
    QVERIFY(rig.comm.PortOpen());
    QCOMPARE(rig.comm.openCount(), 2);
    QCOMPARE(rig.boxes.shown().size(), 1);
}

QTEST_MAIN(TestStation)
#include "tst_station.moc"
