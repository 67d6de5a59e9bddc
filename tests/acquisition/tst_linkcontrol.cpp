// START, STOP, the port selector and the window's unload against the
// in-memory serial component, which logs every operation in order.

#include "acquisition/linkcontrol.h"
#include "support/fakes.h"
#include "support/fakeserialcomm.h"

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
    QList<bool> on() { return {link.Start().isOn(), link.stopcmd().isOn(), link.VScroll3Enabled().isOn()}; }
};

const QList<bool> Stopped{true, false, true}, Started{false, true, false};

QStringList startOperations(int port)
{
    return {QStringLiteral("CommPort=%1").arg(port), "Settings=9600,N,8,1", "InputLen=1", "PortOpen=True"};
}
} // namespace

class TestLinkControl : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void operations_data()
    {
        QTest::addColumn<int>("selector");
        QTest::addColumn<QString>("clicks");
        QTest::addColumn<QStringList>("operations");
        QTest::addColumn<QList<bool>>("flags");
        const QStringList close{"PortOpen=False"}, ask{"PortOpen?"};
        QTest::newRow("START on COM12") << 12 << "start" << startOperations(12) << Started;
        QTest::newRow("selector kept to its range") << 40 << "start" << startOperations(12) << Started;
        // STOP asks to close whether the port is open or not.
        QTest::newRow("STOP twice") << 3 << "start stop stop" << startOperations(3) + close + close
                                    << Stopped;
        QTest::newRow("unload while open")
            << 2 << "start unload" << startOperations(2) + ask + close << Started;
        QTest::newRow("unload while closed") << 2 << "unload" << ask << Stopped;
    }

    void operations()
    {
        QFETCH(int, selector);
        QFETCH(QString, clicks);
        Link l;
        l.link.setVScroll3(selector);
        QCOMPARE(l.link.Text4().text(), QString::number(l.link.VScroll3())); // the selector shows its port
        l.comm.clearLog();
        const QHash<QString, void (LinkControl::*)()> handlers{{"start", &LinkControl::Start_Click},
                                                               {"stop", &LinkControl::stopcmd_Click},
                                                               {"unload", &LinkControl::Form_Unload}};
        for (const QString &click : clicks.split(u' '))
            (l.link.*handlers.value(click))();
        QTEST(l.comm.log(), "operations");
        QTEST(l.on(), "flags");
        QVERIFY(l.boxes.shown().isEmpty());
    }

    // The error shows in an untitled warning, nothing else changes, and the
    // program runs on.
    void startFailingWarnsAndStaysStopped()
    {
        Link l;
        l.link.setVScroll3(7);
        QSignalSpy text4(&l.link.Text4(), &TextValue::changed);
        const Error error{ErrorCode::PortNotFound, "COM7: no such port (/dev/ttyS6)"};
        l.comm.failNextOpen(error);
        l.link.Start_Click(); // must not throw
        QCOMPARE(l.boxes.shown(), (Boxes{{error.description, MsgStyle::OkOnly + MsgStyle::Exclamation, {}}}));
        QCOMPARE(l.on(), Stopped);
        QCOMPARE(l.link.VScroll3(), 7);
        QCOMPARE(text4.count(), 0);
        l.link.Start_Click(); // the operator can try again
        QCOMPARE(l.on(), Started);
    }
};

QTEST_GUILESS_MAIN(TestLinkControl)
#include "tst_linkcontrol.moc"
