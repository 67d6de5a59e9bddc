// The serial component over QSerialPort against a pseudo-terminal that the
// test holds: the test plays the device on the master end. Then the link
// through device losses: the pseudo-terminal vanishes (hang-up, COM1
// removed) and returns as a new one under the same name; and input that
// comes too fast. (A field longer than the parser keeps is seen in
// tst_station.)

#include "acquisition/frameparser.h"
#include "acquisition/linkcontrol.h"
#include "acquisition/linkresume.h"
#include "acquisition/qtserialcomm.h"
#include "support/fakes.h"
#include "support/ptydevice.h"

#include <QTest>

#include <functional>
#include <optional>

using namespace qf;

namespace {
struct Bench : PtyDevice {
    QtSerialComm comm{dir.path()};
};
using Operation = std::function<void(Bench &)>;

constexpr int ResumeMs = 2500; // a retry a second, and slack for a busy machine

struct Station {
    QTemporaryDir dir;
    std::optional<PseudoTerminal> pty;
    std::optional<PortLink> name;
    QtSerialComm comm{dir.path()};
    FakeMessageBoxes boxes;
    LinkControl link{comm, boxes};
    FrameParser parser{comm};
    QStringList journal;
    LinkResume resume{comm, parser, link, boxes, [this](const QString &line) { journal << line; }};
    QStringList commits;

    Station()
    {
        publish();
        QObject::connect(&comm, &SerialComm::OnComm, &comm, [this] { parser.onReceive(); });
        parser.setCommit([this] { commits << parser.sensorValues()[0] + parser.sensorValues()[3]; });
        link.selectPort(1);
        link.start();
    }
    // A new device, named COM1.
    void publish() { name.emplace(dir.path(), 1, pty.emplace().slavePath()); }
    void vanish()
    {
        pty.reset();
        name.reset();
    }
    bool send(const QByteArray &b) { return ::write(pty->masterFd(), b.constData(), b.size()) == b.size(); }
};
} // namespace

Q_DECLARE_METATYPE(Operation)

class TestQtSerialComm : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void errors_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<ErrorCode>("error");
        QTest::addColumn<QString>("description"); // how it begins
        const auto open = [](int port, const QString &settings = "9600,N,8,1") {
            return Operation([=](Bench &b) {
                b.comm.setCommPort(port);
                b.comm.setSettings(settings);
                b.comm.setPortOpen(true); // the line takes the settings
            });
        };
        QTest::newRow("even, 7 bits, 2 stop, lower case") << open(1, "19200,e,7,2") << ErrorCode{} << "";
        QTest::newRow("1.5 stop bits") << open(1, "300,O,5,1.5") << ErrorCode{} << "";
        for (const char *bad : {"", "9600,N,8", "9600,N,8,1,1", "fast,N,8,1", "0,N,8,1", "9600,X,8,1",
                                "9600,N,9,1", "9600,N,8,3"})
            QTest::addRow("settings \"%s\"", bad)
                << open(1, bad) << ErrorCode::InvalidSettings << "Invalid Settings";
        for (int port : {0, -1, 256})
            QTest::addRow("port %d", port) << open(port) << ErrorCode::InvalidPortNumber << "";
        QTest::newRow("no such port")
            << open(255) << ErrorCode::PortNotFound << "COM255: no such port (/dev/ttyS254)";
        QTest::newRow("dangling link") << Operation([open](Bench &b) {
            QVERIFY(QFile::link("/nonexistent/ttyUSB9", b.dir.filePath("COM9")));
            QCOMPARE(b.comm.portPath(9), b.dir.filePath("COM9")); // a dangling link still names the port
            open(9)(b);
        }) << ErrorCode::PortNotFound << "COM9: no such port";
        QTest::newRow("in use under another name") << Operation([open](Bench &b) {
            QVERIFY(QFile::link(b.pty.slavePath(), b.dir.filePath("COM2")));
            QtSerialComm holder(b.dir.path());
            holder.setPortOpen(true);
            open(2)(b);
        }) << ErrorCode::PortInUse << "COM2: port already in use";
        QTest::newRow("Output while closed")
            << Operation([](Bench &b) { b.comm.Output("b"); }) << ErrorCode::PortNotOpen << "";
    }

    void errors()
    {
        QFETCH(Operation, operation);
        QFETCH(QString, description);
        Bench b;
        Error error;
        try {
            operation(b);
        } catch (const StationError &e) {
            error = e.error();
            QVERIFY(!b.comm.PortOpen()); // a failed open leaves the port closed
        }
        QTEST(error.code, "error");
        QVERIFY2(description.isEmpty() || error.description.startsWith(description),
                 qPrintable(error.description));
    }

    // Every byte arrives as its Latin-1 character and goes back as the same
    // byte. A burst written just before STOP still reaches the device: it
    // answers a character already handled, which the device would otherwise
    // send again.
    void bytesAreLatin1AndCloseSendsWhatWasWritten()
    {
        Bench b;
        QString input;
        connect(&b.comm, &SerialComm::OnComm, this, [&] {
            const QString text = b.comm.Input(); // read length 0: all that waits
            input += text;
            b.comm.Output(text);
        });
        QByteArray all;
        for (int c = 0; c < 256; ++c)
            all.append(char(c));
        b.comm.setPortOpen(true);
        b.comm.setPortOpen(true); // a second open reopens
        QVERIFY(b.send(all));
        QTRY_COMPARE_WITH_TIMEOUT(input, QString::fromLatin1(all), 2000);
        b.comm.Output("bcde");
        b.comm.setPortOpen(false);
        QTRY_COMPARE_WITH_TIMEOUT(b.received(), all + "bcde", 2000);
    }

    // STOP and START in mid-frame leave the frame to be continued. A loss
    // drops the frame it cut, the port opens again by itself once COM1 is
    // back, and the next frame is logged whole. STOP during a loss ends the
    // tries.
    void resumesWhenTheDeviceReturns()
    {
        Station s;
        QVERIFY(s.send("N1,2"));
        QTRY_COMPARE_WITH_TIMEOUT(s.parser.fieldText().text(), "2", 2000);
        s.link.stop();
        s.link.start();
        QVERIFY(s.send(",3,4,N5,6"));
        QTRY_COMPARE_WITH_TIMEOUT(s.parser.fieldText().text(), "6", 2000);
        s.vanish();
        QTRY_COMPARE_WITH_TIMEOUT(s.journal.size(), 1, 2000);
        QVERIFY2(s.journal[0].startsWith("COM1 lost: "), qPrintable(s.journal[0]));
        QCOMPARE(s.boxes.openNotices(), 1);
        const QString notice = s.boxes.shown().last().prompt;
        QVERIFY2(notice.startsWith("COM1: device lost"), qPrintable(notice));
        QCOMPARE(s.parser.sensorValue(0).text(), "  5"); // the captions stay
        // The rest of a poll burst goes nowhere quietly.
        QVERIFY_THROWS_NO_EXCEPTION(s.comm.Output("c"));

        QTest::qWait(ResumeMs); // away: tries that fail say nothing
        QCOMPARE(s.journal.size(), 1);
        QVERIFY(s.resume.retrying());
        s.publish();
        QTRY_VERIFY_WITH_TIMEOUT(s.comm.PortOpen(), ResumeMs);
        QCOMPARE(s.journal.size(), 2);
        QVERIFY2(s.journal[1].startsWith("COM1 back after "), qPrintable(s.journal[1]));
        QCOMPARE(s.boxes.openNotices(), 0);
        QVERIFY(s.link.started());

        QVERIFY(s.send(",7,8,N9,10,11,12,"));
        QTRY_COMPARE_WITH_TIMEOUT(s.commits.size(), 2, 2000);
        QCOMPARE(s.commits, QStringList({"  1  4", "  9  12"}));

        s.vanish();
        QTRY_VERIFY_WITH_TIMEOUT(s.resume.retrying(), 2000);
        s.link.stop();
        s.publish();
        QTRY_VERIFY_WITH_TIMEOUT(!s.resume.retrying(), ResumeMs);
        QVERIFY(!s.comm.PortOpen());
        QCOMPARE(s.boxes.openNotices(), 0);
    }

    // Far more than the component holds, at once: whole frames are dropped
    // and counted, and no record mixes two frames.
    void floodDropsWholeFrames()
    {
        Station s;
        s.comm.setInputLen(1);
        QByteArray flood;
        int frames = 0;
        for (; flood.size() < 4 * QtSerialComm::ReadBufferLimit; ++frames)
            flood += QStringLiteral("N%1,2,3,%1,").arg(frames).toLatin1();
        for (qsizetype sent = 0; sent < flood.size();) {
            const ssize_t n =
                ::write(s.pty->masterFd(), flood.constData() + sent, size_t(flood.size() - sent));
            sent += n > 0 ? n : 0;
            if (n <= 0)
                QTest::qWait(1);
        }
        QTRY_COMPARE_WITH_TIMEOUT(s.commits.size() + s.resume.framesDropped(), frames, 10000);
        QVERIFY(s.resume.framesDropped() > 0);
        QCOMPARE(s.journal.size(), 1); // told once
        // A whole frame's record begins and ends with its number.
        for (const QString &record : s.commits)
            QVERIFY2(record.first(record.size() / 2) == record.sliced(record.size() / 2), qPrintable(record));
    }
};

QTEST_GUILESS_MAIN(TestQtSerialComm)
#include "tst_qtserialcomm.moc"
