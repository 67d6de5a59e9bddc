// START, STOP, the port selector and the window's unload against the
// in-memory serial component, which logs every operation in order.

#include "acquisition/fakeserialcomm.h"
#include "acquisition/linkcontrol.h"
#include "support/fakes.h"

#include <QSignalSpy>
#include <QTest>

namespace {
// As the window's load leaves it: STOP disabled, selector at 1.
struct Link {
    FakeSerialComm comm;
    FakeMessageBoxes boxes;
    LinkControl link{comm, boxes};

    Link()
    {
        link.stopcmd().set(false);
        link.setVScroll3(1);
    }

    // START, STOP and the selector enabled.
    QList<bool> flags()
    {
        return {link.Start().isOn(), link.stopcmd().isOn(), link.VScroll3Enabled().isOn()};
    }
};

const QList<bool> Stopped{true, false, true};
const QList<bool> Started{false, true, false};

QStringList startOperations(int port)
{
    return {QStringLiteral("CommPort=%1").arg(port), "Settings=9600,N,8,1", "InputLen=1", "PortOpen=True"};
}
} // namespace

class TestLinkControl : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void operations_data();
    void operations();
    void startFailingWarnsAndStaysStopped();
    void selectorShownInText4();
};

void TestLinkControl::operations_data()
{
    QTest::addColumn<int>("selector");
    QTest::addColumn<QString>("clicks");
    QTest::addColumn<QStringList>("operations");
    QTest::addColumn<QList<bool>>("flags");

    const QStringList close{"PortOpen=False"};
    QTest::newRow("START on COM1") << 1 << "start" << startOperations(1) << Started;
    QTest::newRow("START on COM12") << 12 << "start" << startOperations(12) << Started;
    QTest::newRow("START, STOP") << 3 << "start stop" << startOperations(3) + close << Stopped;
    QTest::newRow("STOP asks to close, open or not")
        << 3 << "start stop stop" << startOperations(3) + close + close << Stopped;
    QTest::newRow("unload while open")
        << 2 << "start unload" << startOperations(2) + QStringList{"PortOpen?"} + close << Started;
    QTest::newRow("unload while closed") << 2 << "unload" << QStringList{"PortOpen?"} << Stopped;
}

void TestLinkControl::operations()
{
    QFETCH(int, selector);
    QFETCH(QString, clicks);
    Link l;
    l.link.setVScroll3(selector);
    l.comm.clearLog();
    const QHash<QString, void (LinkControl::*)()> handlers{{"start", &LinkControl::Start_Click},
                                                           {"stop", &LinkControl::stopcmd_Click},
                                                           {"unload", &LinkControl::Form_Unload}};
    for (const QString &click : clicks.split(u' '))
        (l.link.*handlers.value(click))();
    QTEST(l.comm.log(), "operations");
    QTEST(l.flags(), "flags");
    QVERIFY(l.boxes.shown().isEmpty());
}

void TestLinkControl::startFailingWarnsAndStaysStopped()
{
    Link l;
    l.link.setVScroll3(7);
    QSignalSpy text4(&l.link.Text4(), &TextValue::changed);
    const Error error{ErrorCode::PortNotFound, "COM7: no such port (/dev/ttyS6)"};
    l.comm.failNextOpen(error);
    l.link.Start_Click(); // must not throw: the program runs on

    QCOMPARE(l.boxes.shown().size(), 1);
    const auto &box = l.boxes.shown().first();
    QCOMPARE(box.prompt, error.description);
    QCOMPARE(box.style, MsgStyle::OkOnly + MsgStyle::Exclamation);
    QCOMPARE(box.title, QString()); // the application's title stands in
    QCOMPARE(l.flags(), Stopped);
    QCOMPARE(l.link.VScroll3(), 7);
    QCOMPARE(text4.count(), 0);
    QVERIFY(!l.comm.PortOpen());

    l.link.Start_Click(); // the operator can try again
    QCOMPARE(l.flags(), Started);
}

void TestLinkControl::selectorShownInText4()
{
    Link l;
    l.link.setVScroll3(12);
    QCOMPARE(l.link.Text4().text(), QStringLiteral("12"));
    l.link.Text4().setText(QStringLiteral("edited"));
    l.link.setVScroll3(40); // kept to its range, so no change: the handler does not run
    QCOMPARE(l.link.VScroll3(), LinkControl::SelectorMax);
    QCOMPARE(l.link.Text4().text(), QStringLiteral("edited"));
    l.link.setVScroll3(-3);
    QCOMPARE(l.link.Text4().text(), QStringLiteral("1"));
}

QTEST_GUILESS_MAIN(TestLinkControl)
#include "tst_linkcontrol.moc"
