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
    void onOpensThePortOfTheLastStart();
};

namespace {
enum Port : bool { Closed, Open };
enum Button : bool { Off, On };
enum class Failure { None, Read, Open, Close, Output };

const Error lostPort{ErrorCode::PortNotFound, QStringLiteral("COM1: no such port")};
const Error busyPort{ErrorCode::PortInUse, QStringLiteral("COM1: port in use")};
const Error unreadable{ErrorCode::DeviceLost, QStringLiteral("state unreadable")};

// A component whose port state can be made unreadable.
class Comm : public FakeSerialComm {
public:
    bool PortOpen() const override
    {
        const bool open = FakeSerialComm::PortOpen();
        if (failRead)
            throw StationError(unreadable);
        return open;
    }
    bool failRead = false;
};

// The port before, the parser's poll channel, the button, the step that
// fails; what reaches the device, the warning shown, the port after and the
// opens the click made.
struct Case {
    Port before;
    int pollChannel;
    Button button;
    Failure failure;
    QByteArray sent;
    QString warning;
    Port after;
    int opens;
};
} // namespace

void TestRelaySwitch::buttons_data()
{
    QTest::addColumn<Case>("c");
    const auto row = [](const char *name, Case c) { QTest::newRow(name) << c; };
    row("ON before a receive event opens, sends a", {Closed, 0, On, Failure::None, "a", "", Open, 1});
    row("ON after a receive event sends e", {Closed, 4, On, Failure::None, "e", "", Open, 1});
    row("ON on an open port sends only the letter", {Open, 4, On, Failure::None, "e", "", Open, 0});
    row("ON on an unopenable port warns, sends nothing",
        {Closed, 0, On, Failure::Open, "", lostPort.description, Closed, 0});
    row("ON whose write fails shows nothing", {Open, 4, On, Failure::Output, "", "", Open, 0});
    row("ON with an unreadable state opens and warns",
        {Closed, 0, On, Failure::Read, "a", unreadable.description, Open, 1});
    row("OFF on an open port closes, sends nothing", {Open, 4, Off, Failure::None, "", "", Closed, 0});
    row("OFF on a closed port shows nothing", {Closed, 0, Off, Failure::None, "", "", Closed, 0});
    row("OFF whose close fails warns, sends on the open port",
        {Open, 4, Off, Failure::Close, "e", busyPort.description, Open, 0});
    row("OFF with an unreadable state closes and warns",
        {Open, 4, Off, Failure::Read, "", unreadable.description, Closed, 0});
}

void TestRelaySwitch::buttons()
{
    QFETCH(Case, c);
    Comm comm;
    FakeMessageBoxes boxes;
    RelaySwitch relay(
        comm, [&] { return c.pollChannel; }, boxes);
    comm.setPortOpen(c.before);
    const int opensBefore = comm.openCount();
    comm.failRead = c.failure == Failure::Read;
    if (c.failure == Failure::Open)
        comm.failNextOpen(lostPort);
    if (c.failure == Failure::Close)
        comm.failNextClose(busyPort);
    if (c.failure == Failure::Output)
        comm.failNextOutput(Error{ErrorCode::WriteFailed, QStringLiteral("write failed")});

    c.button == On ? relay.Command2_Click() : relay.Command3_Click();

    comm.failRead = false;
    QCOMPARE(comm.sent(), c.sent);
    QCOMPARE(comm.PortOpen(), bool(c.after));
    QCOMPARE(comm.openCount() - opensBefore, c.opens);
    QCOMPARE(boxes.shown().size(), c.warning.isEmpty() ? 0 : 1);
    for (const auto &box : boxes.shown()) {
        QCOMPARE(box.prompt, c.warning);
        QCOMPARE(box.style, MsgStyle::Exclamation);
        QCOMPARE(box.title, QString()); // the application's title shows
    }
}

// START on port 3, STOP, selector to 5: ON opens port 3 with the settings of
// that START. (That ON and OFF leave START, STOP and the selector as they
// were is seen on the window, in tst_station.)
void TestRelaySwitch::onOpensThePortOfTheLastStart()
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
    relay.Command2_Click();
    QVERIFY(comm.PortOpen());
    QCOMPARE(comm.CommPort(), 3);
    QCOMPARE(comm.Settings(), QStringLiteral("9600,N,8,1"));
    QCOMPARE(comm.InputLen(), 1);
    QCOMPARE(comm.sent(), QByteArray("e"));
    QVERIFY(boxes.shown().isEmpty());
}

QTEST_GUILESS_MAIN(TestRelaySwitch)
#include "tst_relayswitch.moc"
