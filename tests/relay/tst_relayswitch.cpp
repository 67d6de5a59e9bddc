#include "relay/relayswitch.h"
#include "support/fakes.h"
#include "support/fakeserialcomm.h"

#include <QTest>

using namespace qf;

// ON and OFF against the in-memory serial component: what each asks of the
// component, what reaches the device and which warnings the operator sees.
// That ON opens the port as the last START left it, touching neither port
// number nor settings, and that OFF closes an open port, is seen on the
// window's log in tst_station.
namespace {
enum Port : bool { Closed, Open };
enum Button : bool { Off, On };

// A component whose next read of the port state can fail too.
struct Comm : FakeSerialComm {
    bool PortOpen() const override
    {
        const bool open = FakeSerialComm::PortOpen();
        if (m_failRead)
            throw StationError(*std::exchange(m_failRead, std::nullopt));
        return open;
    }
    void failNextRead(const Error &error) { m_failRead = error; }
    mutable std::optional<Error> m_failRead;
};
// The step made to fail, or none.
using Failure = void (Comm::*)(const Error &);

// The port before, the parser's poll channel, the button, the step that
// fails; what reaches the device, whether the failure is shown as a
// warning and the port after. A click opens only a closed port, once.
struct Case {
    Port before;
    int pollChannel;
    Button button;
    Failure failure;
    QByteArray sent;
    bool warns;
    Port after;
};
} // namespace

class TestRelaySwitch : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void buttons_data()
    {
        QTest::addColumn<Case>("c");
        const auto row = [](const char *name, Case c) { QTest::newRow(name) << c; };
        row("ON on an open port sends only the letter", {Open, 4, On, nullptr, "e", false, Open});
        row("ON on an unopenable port warns", {Closed, 0, On, &Comm::failNextOpen, "", true, Closed});
        row("ON whose write fails shows nothing", {Open, 4, On, &Comm::failNextOutput, "", false, Open});
        row("ON, state unreadable: opens, warns", {Closed, 0, On, &Comm::failNextRead, "a", true, Open});
        row("OFF on a closed port shows nothing", {Closed, 0, Off, nullptr, "", false, Closed});
        row("OFF whose close fails warns, sends", {Open, 4, Off, &Comm::failNextClose, "e", true, Open});
        row("OFF, state unreadable: closes, warns", {Open, 4, Off, &Comm::failNextRead, "", true, Closed});
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
        const Error failure{ErrorCode::PortInUse, "COM1: port in use"};
        if (c.failure)
            (comm.*c.failure)(failure);

        c.button == On ? relay.switchOn() : relay.switchOff();

        QCOMPARE(comm.sent(), c.sent);
        QCOMPARE(comm.PortOpen(), bool(c.after));
        QCOMPARE(comm.openCount() - opensBefore, int(!c.before && c.after));
        // A warning: the component's error, exclamation, the application's title.
        QCOMPARE(boxes.shown(),
                 (c.warns ? Boxes{{failure.description, MsgStyle::Exclamation, {}}} : Boxes()));
    }
};

QTEST_GUILESS_MAIN(TestRelaySwitch)
#include "tst_relayswitch.moc"
