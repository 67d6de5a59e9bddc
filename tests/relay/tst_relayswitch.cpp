#include "relay/relayswitch.h"
#include "support/fakes.h"
#include "support/fakeserialcomm.h"

#include <QTest>

// ON and OFF against the in-memory serial component: what each asks of the
// component, what reaches the device and which warnings the operator sees.
// That ON opens the port as the last START left it, touching neither port
// number nor settings, and that OFF closes an open port, is seen on the
// window's log in tst_station.
namespace {
enum Port : bool { Closed, Open };
enum Button : bool { Off, On };
enum class Failure { None, Read, Open, Close, Output };

const Error lostPort{ErrorCode::PortNotFound, "COM1: no such port"};
const Error busyPort{ErrorCode::PortInUse, "COM1: port in use"};
const Error unreadable{ErrorCode::DeviceLost, "state unreadable"};

// A component whose port state can be made unreadable.
struct Comm : FakeSerialComm {
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

class TestRelaySwitch : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void buttons_data()
    {
        QTest::addColumn<Case>("c");
        const auto row = [](const char *name, Case c) { QTest::newRow(name) << c; };
        const QString lost = lostPort.description, busy = busyPort.description, none = unreadable.description;
        row("ON after a receive event sends e", {Closed, 4, On, Failure::None, "e", "", Open, 1});
        row("ON on an open port sends only the letter", {Open, 4, On, Failure::None, "e", "", Open, 0});
        row("ON on an unopenable port warns", {Closed, 0, On, Failure::Open, "", lost, Closed, 0});
        row("ON whose write fails shows nothing", {Open, 4, On, Failure::Output, "", "", Open, 0});
        row("ON with an unreadable state opens, warns", {Closed, 0, On, Failure::Read, "a", none, Open, 1});
        row("OFF on a closed port shows nothing", {Closed, 0, Off, Failure::None, "", "", Closed, 0});
        row("OFF whose close fails warns, sends", {Open, 4, Off, Failure::Close, "e", busy, Open, 0});
        row("OFF with an unreadable state closes, warns", {Open, 4, Off, Failure::Read, "", none, Closed, 0});
    }

    void buttons()
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
            comm.failNextOutput(Error{ErrorCode::WriteFailed, "write failed"});

        c.button == On ? relay.Command2_Click() : relay.Command3_Click();

        comm.failRead = false;
        QCOMPARE(comm.sent(), c.sent);
        QCOMPARE(comm.PortOpen(), bool(c.after));
        QCOMPARE(comm.openCount() - opensBefore, c.opens);
        // A warning: the component's error, exclamation, the application's title.
        QCOMPARE(boxes.shown(),
                 (c.warning.isEmpty() ? Boxes() : Boxes{{c.warning, MsgStyle::Exclamation, {}}}));
    }
};

QTEST_GUILESS_MAIN(TestRelaySwitch)
#include "tst_relayswitch.moc"
