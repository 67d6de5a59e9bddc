// The serial component over QSerialPort against a pseudo-terminal that the
// test holds: the test plays the device on the master end.

#include "acquisition/qtserialcomm.h"
#include "support/ptydevice.h"

#include <QSignalSpy>
#include <QTest>

#include <ctime>
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
        QTest::newRow("close while closed")
            << Operation([](Bench &b) { b.comm.setPortOpen(false); }) << 0 << "";
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
    // byte, across reopens and stop-start rounds.
    void bytesAreLatin1AcrossReopens()
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
        for (int round = 0; round < 4; ++round) {
            b.comm.setPortOpen(true);
            if (round % 2 == 1)
                b.comm.setPortOpen(true); // a second open reopens
            QVERIFY(b.send(all.mid(round * 64, 64)));
            QTRY_COMPARE_WITH_TIMEOUT(b.received(), all.left((round + 1) * 64), 2000);
            b.comm.setPortOpen(false);
        }
        QCOMPARE(input, QString::fromLatin1(all));
    }

    // A burst written just before STOP still reaches the device: it answers
    // a character already handled, which the device would otherwise send
    // again.
    void closeSendsWhatWasWritten()
    {
        Bench b;
        b.comm.setPortOpen(true);
        b.comm.Output("bcde");
        b.comm.setPortOpen(false);
        QTRY_COMPARE_WITH_TIMEOUT(b.received(), QByteArray("bcde"), 2000);
    }

    void hangUpClosesOnceAndQuietly()
    {
        Bench b;
        b.comm.setInputLen(1);
        b.comm.setPortOpen(true);
        QSignalSpy lost(&b.comm, &SerialComm::deviceLost);
        QSignalSpy events(&b.comm, &SerialComm::OnComm);

        b.pty.closeMaster();
        QVERIFY(lost.wait(1000)); // reported within a second
        QVERIFY(!b.comm.PortOpen());
        const auto error = lost.first().first().value<Error>();
        QVERIFY2(error.number == ErrorCode::DeviceLost && error.description.startsWith("COM1: device lost"),
                 qPrintable(error.description));

        // Half a second of event loop after the loss: no more reports, no
        // events, and the process does not spin (std::clock is its CPU time).
        const std::clock_t cpuBefore = std::clock();
        QTest::qWait(500);
        const double cpuSeconds = double(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
        QVERIFY2(cpuSeconds < 0.1, qPrintable(QStringLiteral("CPU %1 s in 0.5 s").arg(cpuSeconds)));
        QCOMPARE(lost.count(), 1);
        QCOMPARE(events.count(), 0);

        // The loss has been told: the rest of a poll burst goes nowhere
        // quietly until the program closes or opens the port.
        QVERIFY_THROWS_NO_EXCEPTION(b.comm.Output("c"));
        b.comm.setPortOpen(false);
        QVERIFY_THROWS_EXCEPTION(StationError, b.comm.Output("c"));
    }
};

QTEST_GUILESS_MAIN(TestQtSerialComm)
#include "tst_qtserialcomm.moc"
