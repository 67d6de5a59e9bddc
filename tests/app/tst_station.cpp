#include "acquisition/fakeserialcomm.h"
#include "app/form1.h"
#include "app/station.h"
#include "recordlog/storemaintenance.h"
#include "support/fakes.h"

#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

// The window with its station over the in-memory serial component: the
// states after start-up, what each control reaches, the serial events, and
// where errors go.
class TestStation : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startUpStates();
    void clicks_data();
    void clicks();
    void selectorFollowsTheBar();
    void frameReachesLabelsAndTotal();
    void relayLetterAfterAReceiveEvent();
    void typedTextIsTheParsersText();
    void closingRunsUnload();
    void handlerErrorReachesTheReport();
    void missingStore();
    void deviceLossWarnsOnceAndRunsOn();
};

namespace {

struct Rig {
    explicit Rig(bool withStore = true)
    {
        if (withStore)
            createStore(storeFilePath(dir.path()));
    }

    QTemporaryDir dir;
    FakeSerialComm comm;
    FakeMessageBoxes boxes;
    FakeErrorReport report;
    std::optional<int> endedWith;
    Station station{comm, dir.path(), boxes, report, [this](int status) { endedWith = status; }};
    Form1 &form = station.form();

    QString text(const char *control) const
    {
        if (auto *label = form.control<QLabel>(control))
            return label->text();
        return form.control<QLineEdit>(control)->text();
    }
    void click(const char *control)
    {
        QTest::mouseClick(form.control<QAbstractButton>(control), Qt::LeftButton);
    }
    bool enabled(const char *control) const { return form.control(control)->isEnabled(); }
    void loadAndShow()
    {
        QVERIFY(station.Form_Load());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        comm.clearLog();
    }
};

} // namespace

void TestStation::startUpStates()
{
    Rig rig;
    rig.loadAndShow();
    QVERIFY(rig.report.errors().isEmpty());
    QVERIFY(rig.enabled("Start"));
    QVERIFY(!rig.enabled("stopcmd"));
    QVERIFY(rig.enabled("VScroll3"));
    QCOMPARE(rig.form.control<QScrollBar>("VScroll3")->value(), 1);
    QCOMPARE(rig.text("Text4"), QStringLiteral("1"));
    QCOMPARE(rig.text("Text3"), QStringLiteral("Text3"));
    QCOMPARE(rig.text("Text2"), QString());
    for (int k = 0; k < 4; ++k) {
        QCOMPARE(rig.text(qPrintable(QStringLiteral("Label1(%1)").arg(k))), QString());
        QCOMPARE(rig.text(qPrintable(QStringLiteral("Label14(%1)").arg(k))), QStringLiteral("°c"));
    }
    QCOMPARE(rig.text("totalrec"), QString()); // an empty store leaves the design's empty caption
    QVERIFY(!rig.comm.PortOpen());
    QCOMPARE(rig.form.focusWidget(), rig.form.control("Text3"));
}

void TestStation::clicks_data()
{
    QTest::addColumn<bool>("startFirst");
    QTest::addColumn<QStringList>("operations");
    QTest::addColumn<QString>("boxTitle");
    QTest::addColumn<int>("endedWith");

    const int runsOn = -1;
    QTest::newRow("Start") << false
                           << QStringList{"CommPort=1", "Settings=9600,N,8,1", "InputLen=1", "PortOpen=True"}
                           << "" << runsOn;
    QTest::newRow("stopcmd") << true << QStringList{"PortOpen=False"} << "" << runsOn;
    QTest::newRow("Command1") << false << QStringList{} << "Confirmation Box" << runsOn;
    QTest::newRow("Command2") << false << QStringList{"PortOpen?", "PortOpen=True", "Output=a"} << ""
                              << runsOn;
    QTest::newRow("Command3") << true << QStringList{"PortOpen?", "PortOpen=False", "Output=a"} << ""
                              << runsOn;
    // EXIT ends at once: the unload, which would ask PortOpen, does not run.
    QTest::newRow("exit") << true << QStringList{} << "" << 0;
}

void TestStation::clicks()
{
    QFETCH(bool, startFirst);
    QFETCH(QStringList, operations);
    QFETCH(QString, boxTitle);
    QFETCH(int, endedWith);

    Rig rig;
    rig.loadAndShow();
    if (startFirst) {
        rig.click("Start");
        rig.comm.clearLog();
    }
    rig.click(QTest::currentDataTag());

    QCOMPARE(rig.comm.log(), operations);
    QCOMPARE(rig.boxes.shown().size(), boxTitle.isEmpty() ? 0 : 1);
    if (!boxTitle.isEmpty())
        QCOMPARE(rig.boxes.shown().first().title, boxTitle);
    QCOMPARE(rig.endedWith.value_or(-1), endedWith);
    QVERIFY(rig.report.errors().isEmpty());
}

void TestStation::selectorFollowsTheBar()
{
    Rig rig;
    rig.loadAndShow();
    auto *bar = rig.form.control<QScrollBar>("VScroll3");
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCOMPARE(rig.text("Text4"), QStringLiteral("3"));
    rig.click("Start");
    QCOMPARE(rig.comm.log().first(), QStringLiteral("CommPort=3"));
    QVERIFY(!rig.enabled("VScroll3"));
    QVERIFY(!rig.enabled("Start"));
    QVERIFY(rig.enabled("stopcmd"));
}

void TestStation::frameReachesLabelsAndTotal()
{
    Rig rig;
    rig.loadAndShow();
    rig.click("Start");
    rig.comm.clearLog();
    const QByteArray frame("N25.3,26.1,24.8,0.52,");
    rig.comm.receive(frame);
    QTRY_COMPARE(rig.text("totalrec"), QStringLiteral("Total Records: 1"));
    QCOMPARE(rig.text("Label1(0)"), QStringLiteral("  25.3"));
    QCOMPARE(rig.text("Label1(1)"), QStringLiteral("  26.1"));
    QCOMPARE(rig.text("Label1(2)"), QStringLiteral("  24.8"));
    QCOMPARE(rig.text("Label1(3)"), QStringLiteral("  0.52"));
    QCOMPARE(rig.text("Text2"), QString());
    QCOMPARE(rig.text("Text3"), QString());
    QCOMPARE(rig.comm.sent(), QByteArray("bcde").repeated(frame.size()));
    QVERIFY(rig.report.errors().isEmpty());
}

void TestStation::relayLetterAfterAReceiveEvent()
{
    Rig rig;
    rig.loadAndShow();
    rig.click("Start");
    rig.comm.receive("x");
    QTRY_COMPARE(rig.comm.sent(), QByteArray("bcde"));
    rig.comm.clearLog();
    rig.click("Command2");
    QCOMPARE(rig.comm.sent(), QByteArray("e"));
}

void TestStation::typedTextIsTheParsersText()
{
    Rig rig;
    rig.loadAndShow();
    QTest::keyClicks(rig.form.control("Text2"), "12");
    QCOMPARE(rig.station.parser().Text2().text(), QStringLiteral("12"));
    rig.station.parser().Text2().setText(QStringLiteral("7"));
    QCOMPARE(rig.text("Text2"), QStringLiteral("7"));
}

void TestStation::closingRunsUnload()
{
    Rig rig;
    rig.loadAndShow();
    rig.click("Start");
    rig.comm.clearLog();
    rig.form.close();
    QCOMPARE(rig.comm.log(), (QStringList{"PortOpen?", "PortOpen=False"}));
    QVERIFY(!rig.endedWith);
}

void TestStation::handlerErrorReachesTheReport()
{
    Rig rig;
    rig.loadAndShow();
    rig.click("Start");
    const Error failure{ErrorCode::WriteFailed, QStringLiteral("COM1: write failed")};
    rig.comm.failNextOutput(failure);
    rig.comm.receive("x");
    QTRY_COMPARE(rig.report.errors().size(), 1);
    QCOMPARE(rig.report.errors().first(), failure);
}

void TestStation::missingStore()
{
    Rig rig(false);
    QVERIFY(!rig.station.Form_Load());
    QCOMPARE(rig.report.errors().size(), 1);
    const Error error = rig.report.errors().first();
    QCOMPARE(error.number, ErrorCode::StoreMissing);
    QVERIFY2(error.description.contains(QStringLiteral("velk.mdb")), qPrintable(error.description));
    QCOMPARE(QDir(rig.dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
}

void TestStation::deviceLossWarnsOnceAndRunsOn()
{
    Rig rig;
    rig.loadAndShow();
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
