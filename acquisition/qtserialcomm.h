#pragma once

#include "acquisition/receiveevents.h"
#include "acquisition/serialcomm.h"

#include <QSerialPort>

// The serial component over QSerialPort. Port n is found through the
// application's directory (see commPortPath). Characters are Latin-1 bytes.
//
// Receive events are posted to the event loop, one at a time: one when bytes
// arrive, and another after a handler's read that left bytes waiting, so
// none stays unread while QSerialPort's readyRead stays silent for bytes it
// has buffered already.
//
// Output is buffered and leaves at the next turn of the event loop. When the
// device goes away or reading or writing fails for good, the port is closed
// at once, no further receive event is raised, deviceLost is raised once,
// and Output discards its text without error until the program opens or
// closes the port again: the loss has been reported already.
class QtSerialComm : public SerialComm {
    Q_OBJECT
public:
    explicit QtSerialComm(QString appDir, QObject *parent = nullptr);
    ~QtSerialComm() override;

    void setCommPort(int port) override;
    int CommPort() const override { return m_commPort; }
    void setSettings(const QString &settings) override;
    QString Settings() const override { return m_settings; }
    void setInputLen(int length) override;
    int InputLen() const override { return m_inputLen; }
    bool PortOpen() const override { return m_port.isOpen(); }
    void setPortOpen(bool open) override;
    int CommEvent() const override { return m_commEvent; }
    QString Input() override;
    void Output(const QString &text) override;
    void raiseWaiting() override { m_receiveEvents.schedule(); }

    // The device path COM n resolves to now.
    QString portPath(int port) const;

private:
    void open();
    void close();
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    [[noreturn]] void throwOpenError(const QString &path, QSerialPort::SerialPortError error,
                                     const QString &detail);
    QString portName() const;

    QString m_appDir;
    QString m_openedName; // "COMn" of the port last opened
    QString m_path;       // and its device path
    QSerialPort m_port;
    int m_commPort = 1;
    QString m_settings = QStringLiteral("9600,N,8,1");
    int m_inputLen = 0;
    int m_commEvent = 0;

    bool m_opening = false;
    bool m_lost = false;
    ReceiveEvents m_receiveEvents{*this, [this] { return m_port.isOpen() && m_port.bytesAvailable() > 0; },
                                  [this] {
                                      m_commEvent = ComEvReceive;
                                      Q_EMIT OnComm();
                                  }};
};
