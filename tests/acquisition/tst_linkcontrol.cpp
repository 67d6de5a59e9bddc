// START, STOP, the port selector and the window's unload against the
// in-memory serial component.

#include "acquisition/fakeserialcomm.h"
#include "acquisition/linkcontrol.h"
#include "support/fakes.h"

#include <QSignalSpy>
#include <QTest>

namespace {
struct Link {
    FakeSerialComm comm;
    FakeMessageBoxes boxes;
    LinkControl link{comm, boxes};

    // As the window's load leaves it: STOP disabled, selector at 1.
    Link()
    {
        link.stopcmd().set(false);
        link.setVScroll3(1);
        link.Text4().setText(QStringLiteral("1"));
    }

    QList<bool> flags()
    {
        return {link.Start().isOn(), link.stopcmd().isOn(), link.VScroll3Enabled().isOn()};
    }
};

const QList<bool> Stopped{true, false, true};
const QList<bool> Started{false, true, false};
} // namespace

class TestLinkControl : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void createdState();
    void start_data();
    void start();
    void stopAskedToCloseEvenWhenClosed();
    void unload_data();
    void unload();
    void startFailingWarnsAndStaysStopped_data();
    void startFailingWarnsAndStaysStopped();
    void startStopStartUsesTheCurrentSelector();
    void selectorMirroredInText4();
};

void TestLinkControl::createdState()
{
    FakeSerialComm comm;
    FakeMessageBoxes boxes;
    LinkControl link(comm, boxes);
    QCOMPARE(link.VScroll3(), 0);
    QCOMPARE(link.Text4().text(), QString());
    QVERIFY(link.Start().isOn() && link.stopcmd().isOn() && link.VScroll3Enabled().isOn());
    QVERIFY(comm.log().isEmpty());
}

void TestLinkControl::start_data()
{
    QTest::addColumn<int>("selector");
    QTest::newRow("COM1") << 1;
    QTest::newRow("COM3") << 3;
    QTest::newRow("COM12") << 12;
}

void TestLinkControl::start()
{
    QFETCH(int, selector);
    Link l;
    l.link.setVScroll3(selector);
    l.link.Start_Click();
    QCOMPARE(l.comm.log(), (QStringList{QStringLiteral("CommPort=%1").arg(selector), "Settings=9600,N,8,1",
                                        "InputLen=1", "PortOpen=True"}));
    QCOMPARE(l.flags(), Started);
    QVERIFY(l.boxes.shown().isEmpty());

    l.comm.clearLog();
    l.link.stopcmd_Click();
    QCOMPARE(l.comm.log(), QStringList{"PortOpen=False"});
    QCOMPARE(l.flags(), Stopped);
    QVERIFY(!l.comm.PortOpen());
}

void TestLinkControl::stopAskedToCloseEvenWhenClosed()
{
    Link l;
    l.link.Start_Click();
    l.comm.setPortOpen(false); // OFF closed it behind the buttons' back
    l.comm.clearLog();
    l.link.stopcmd_Click();
    QCOMPARE(l.comm.log(), QStringList{"PortOpen=False"});
    QCOMPARE(l.flags(), Stopped);
}

void TestLinkControl::unload_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<QStringList>("operations");
    QTest::newRow("open") << true << QStringList{"PortOpen?", "PortOpen=False"};
    QTest::newRow("closed") << false << QStringList{"PortOpen?"};
}

void TestLinkControl::unload()
{
    QFETCH(bool, open);
    Link l;
    if (open)
        l.link.Start_Click();
    l.comm.clearLog();
    l.link.Form_Unload();
    QTEST(l.comm.log(), "operations");
    QVERIFY(!l.comm.PortOpen());
}

void TestLinkControl::startFailingWarnsAndStaysStopped_data()
{
    QTest::addColumn<Error>("error");
    QTest::newRow("no such port") << Error{ErrorCode::PortNotFound, "COM7: no such port (/dev/ttyS6)"};
    QTest::newRow("in use") << Error{ErrorCode::PortInUse,
                                     "COM2: port already in use by another program (x)"};
}

void TestLinkControl::startFailingWarnsAndStaysStopped()
{
    QFETCH(Error, error);
    Link l;
    l.link.setVScroll3(7);
    QSignalSpy text4(&l.link.Text4(), &TextValue::changed);
    l.comm.failNextOpen(error);
    l.link.Start_Click(); // must not throw: the program runs on

    QCOMPARE(l.boxes.shown().size(), 1);
    QCOMPARE(l.boxes.shown().first().prompt, error.description);
    QCOMPARE(l.boxes.shown().first().style, MsgStyle::OkOnly + MsgStyle::Exclamation);
    QCOMPARE(l.boxes.shown().first().title, QString());
    QCOMPARE(l.flags(), Stopped);
    QCOMPARE(l.link.VScroll3(), 7);
    QCOMPARE(text4.count(), 0);
    QVERIFY(!l.comm.PortOpen());

    // The operator can try again.
    l.link.Start_Click();
    QCOMPARE(l.flags(), Started);
    QVERIFY(l.comm.PortOpen());
}

void TestLinkControl::startStopStartUsesTheCurrentSelector()
{
    Link l;
    l.link.setVScroll3(2);
    l.link.Start_Click();
    l.link.stopcmd_Click();
    l.link.setVScroll3(5);
    l.comm.clearLog();
    l.link.Start_Click();
    QCOMPARE(l.comm.log().first(), QStringLiteral("CommPort=5"));
    QCOMPARE(l.comm.openCount(), 2);
    QVERIFY(l.comm.PortOpen());
}

void TestLinkControl::selectorMirroredInText4()
{
    Link l;
    QSignalSpy text4(&l.link.Text4(), &TextValue::changed);
    l.link.setVScroll3(12);
    QCOMPARE(l.link.Text4().text(), QStringLiteral("12"));
    l.link.Text4().setText(QStringLiteral("edited"));
    l.link.setVScroll3(12); // no change of value: the handler does not run
    QCOMPARE(l.link.Text4().text(), QStringLiteral("edited"));
    l.link.setVScroll3(40); // the selector keeps to its range
    QCOMPARE(l.link.VScroll3(), LinkControl::SelectorMax);
    QCOMPARE(l.link.Text4().text(), QStringLiteral("edited"));
    l.link.setVScroll3(3);
    QCOMPARE(l.link.Text4().text(), QStringLiteral("3"));
}

QTEST_GUILESS_MAIN(TestLinkControl)
#include "tst_linkcontrol.moc"
