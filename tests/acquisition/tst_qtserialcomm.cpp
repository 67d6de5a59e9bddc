// The serial component over QSerialPort against a pseudo-terminal that the
// test holds: the test plays the device on the master end. A device that
// hangs up is seen in tst_linkresume.

#include "acquisition/qtserialcomm.h"
#include "support/ptydevice.h"

#include <QTest>

#include <functional>

namespace {
struct Bench : PtyDevice {
    QtSerialComm comm{dir.path()};
};
using Operation = std::function<void(Bench &)>;
} // namespace

Q_DECLARE_METATYPE(Operation)

class TestQtSerialComm : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void errors_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("description"); // how it begins
        const auto open = [](int port, const QString &settings = "9600,N,8,1") {
            return Operation([=](Bench &b) {
                b.comm.setCommPort(port);
                b.comm.setSettings(settings);
                b.comm.setPortOpen(true); // the line takes the settings
            });
        };
        QTest::newRow("even, 7 bits, 2 stop, lower case") << open(1, "19200,e,7,2") << 0 << "";
        QTest::newRow("1.5 stop bits") << open(1, "300,O,5,1.5") << 0 << "";
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
        QTEST(error.number, "error");
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
};

QTEST_GUILESS_MAIN(TestQtSerialComm)
#include "tst_qtserialcomm.moc"
