#include "acquisition/fakeserialcomm.h"
#include "acquisition/linkcontrol.h"
#include "relay/relayswitch.h"
#include "support/fakes.h"

#include <QTest>

// ON and OFF against the in-memory serial component: what each asks of the
// component, what reaches the device and which warnings the operator sees.
class TestRelaySwitch : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void buttons_data();
    void buttons();
    void failedReadStillSwitches_data();
    void failedReadStillSwitches();
    void onUsesThePortOfTheLastStart();
    void buttonsKeepTheirState();
};

namespace {
enum class Button { On, Off };
enum class Failure { None, Open, Close, Output };

const Error lostPort{ErrorCode::PortNotFound, QStringLiteral("COM1: no such port")};
const Error busyPort{ErrorCode::PortInUse, QStringLiteral("COM1: port in use")};
} // namespace

void TestRelaySwitch::buttons_data()
{
    QTest::addColumn<bool>("portOpen");
    QTest::addColumn<int>("pollChannel");
    QTest::addColumn<Button>("button");
    QTest::addColumn<Failure>("failure");
    QTest::addColumn<QStringList>("operations");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QStringList>("warnings");
    QTest::addColumn<bool>("openAfter");

    const QStringList none;
    QTest::newRow("ON before any receive event opens and sends a")
        << false << 0 << Button::On << Failure::None << QStringList{"PortOpen?", "PortOpen=True", "Output=a"}
        << QByteArray("a") << none << true;
    QTest::newRow("ON after a receive event sends e")
        << false << 4 << Button::On << Failure::None << QStringList{"PortOpen?", "PortOpen=True", "Output=e"}
        << QByteArray("e") << none << true;
    QTest::newRow("ON on an open port sends only the letter")
        << true << 4 << Button::On << Failure::None << QStringList{"PortOpen?", "Output=e"} << QByteArray("e")
        << none << true;
    QTest::newRow("ON on an unopenable port warns once and sends nothing")
        << false << 0 << Button::On << Failure::Open << QStringList{"PortOpen?", "PortOpen=True", "Output=a"}
        << QByteArray() << QStringList{lostPort.description} << false;
    QTest::newRow("ON whose write fails shows nothing")
        << true << 4 << Button::On << Failure::Output << QStringList{"PortOpen?", "Output=e"} << QByteArray()
        << none << true;
    QTest::newRow("OFF on an open port closes and sends nothing")
        << true << 4 << Button::Off << Failure::None << QStringList{"PortOpen?", "PortOpen=False", "Output=e"}
        << QByteArray() << none << false;
    QTest::newRow("OFF on a closed port has no visible effect")
        << false << 0 << Button::Off << Failure::None << QStringList{"PortOpen?", "Output=a"} << QByteArray()
        << none << false;
    QTest::newRow("OFF whose close fails warns and sends the letter on the open port")
        << true << 4 << Button::Off << Failure::Close
        << QStringList{"PortOpen?", "PortOpen=False", "Output=e"} << QByteArray("e")
        << QStringList{busyPort.description} << true;
}

void TestRelaySwitch::buttons()
{
    QFETCH(bool, portOpen);
    QFETCH(int, pollChannel);
    QFETCH(Button, button);
    QFETCH(Failure, failure);
    QFETCH(QStringList, operations);
    QFETCH(QByteArray, sent);
    QFETCH(QStringList, warnings);
    QFETCH(bool, openAfter);

    FakeSerialComm comm;
    FakeMessageBoxes boxes;
    RelaySwitch relay(
        comm, [&] { return pollChannel; }, boxes);
    if (portOpen)
        comm.setPortOpen(true);
    comm.clearLog();
    switch (failure) {
    case Failure::None:
        break;
    case Failure::Open:
        comm.failNextOpen(lostPort);
        break;
    case Failure::Close:
        comm.failNextClose(busyPort);
        break;
    case Failure::Output:
        comm.failNextOutput(Error{ErrorCode::WriteFailed, QStringLiteral("write failed")});
        break;
    }

    if (button == Button::On)
        relay.Command2_Click();
    else
        relay.Command3_Click();

    QCOMPARE(comm.log(), operations);
    QCOMPARE(comm.sent(), sent);
    QCOMPARE(comm.PortOpen(), openAfter);
    QStringList shown;
    for (const auto &box : boxes.shown()) {
        QCOMPARE(box.style, MsgStyle::Exclamation);
        QCOMPARE(box.title, QString());
        shown << box.prompt;
    }
    QCOMPARE(shown, warnings);
}

// A component whose state cannot be read: the handler goes on with the open
// or close that the read guards, and warns about the read's error.
namespace {
class UnreadableComm : public FakeSerialComm {
public:
    bool PortOpen() const override
    {
        FakeSerialComm::PortOpen();
        throw StationError(ErrorCode::DeviceLost, QStringLiteral("state unreadable"));
    }
};
} // namespace

void TestRelaySwitch::failedReadStillSwitches_data()
{
    QTest::addColumn<Button>("button");
    QTest::addColumn<QString>("operation");
    QTest::newRow("ON") << Button::On << "PortOpen=True";
    QTest::newRow("OFF") << Button::Off << "PortOpen=False";
}

void TestRelaySwitch::failedReadStillSwitches()
{
    QFETCH(Button, button);
    QFETCH(QString, operation);
    UnreadableComm comm;
    FakeMessageBoxes boxes;
    RelaySwitch relay(
        comm, [] { return 0; }, boxes);

    button == Button::On ? relay.Command2_Click() : relay.Command3_Click();

    QCOMPARE(comm.log(), (QStringList{"PortOpen?", operation, "Output=a"}));
    QCOMPARE(boxes.shown().size(), 1);
    QCOMPARE(boxes.shown().first().prompt, QStringLiteral("state unreadable"));
}

// ON opens with what the component holds: the port of the last START, not
// the selector's current value.
void TestRelaySwitch::onUsesThePortOfTheLastStart()
{
    FakeSerialComm comm;
    FakeMessageBoxes boxes;
    LinkControl link(comm, boxes);
    RelaySwitch relay(
        comm, [] { return 4; }, boxes);
    link.setVScroll3(3);
    link.Start_Click();
    link.stopcmd_Click();
    link.setVScroll3(5);
    comm.clearLog();

    relay.Command2_Click();

    QCOMPARE(comm.CommPort(), 3);
    QCOMPARE(comm.Settings(), QStringLiteral("9600,N,8,1"));
    QCOMPARE(comm.InputLen(), 1);
    QVERIFY(comm.PortOpen());
    QCOMPARE(comm.sent(), QByteArray("e"));
    QVERIFY(boxes.shown().isEmpty());
}

// ON and OFF switch the port only: START, STOP and the selector keep the
// state the last START or STOP gave them.
void TestRelaySwitch::buttonsKeepTheirState()
{
    FakeSerialComm comm;
    FakeMessageBoxes boxes;
    LinkControl link(comm, boxes);
    RelaySwitch relay(
        comm, [] { return 4; }, boxes);
    link.setVScroll3(2);
    link.Start_Click();

    relay.Command3_Click();
    QVERIFY(!comm.PortOpen());
    QVERIFY(!link.Start().isOn());
    QVERIFY(link.stopcmd().isOn());
    QVERIFY(!link.VScroll3Enabled().isOn());

    link.stopcmd_Click();
    relay.Command2_Click();
    QVERIFY(comm.PortOpen());
    QVERIFY(link.Start().isOn());
    QVERIFY(!link.stopcmd().isOn());
    QVERIFY(link.VScroll3Enabled().isOn());
}

QTEST_GUILESS_MAIN(TestRelaySwitch)
#include "tst_relayswitch.moc"
