#pragma once

#include "acquisition/linesettings.h"
#include "acquisition/receiveevents.h"
#include "acquisition/serialcomm.h"

#include <QSerialPort>

namespace qf {

// The serial component over QSerialPort. Port n is found through the
// application's directory (see commPortPath). Characters are Latin-1 bytes.
//
// Receive events are posted to the event loop, one at a time: one when bytes
// arrive, and another after a handler's read that left bytes waiting, so
// none stays unread while QSerialPort's readyRead stays silent for bytes it
// has buffered already.
//
// A port is locked by the device its entry resolves to, so two COM entries
// of one device cannot both be open, and the device is opened exclusively.
//
// What waits unread is bounded: when ReadBufferLimit characters wait, all of
// them are thrown away at once and reported by inputDropped. Output beyond
// WriteBufferLimit characters that the device has not taken is discarded.
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
    void setInputLen(int length) override;
    bool PortOpen() const override { return m_port.isOpen(); }
    void setPortOpen(bool open) override;
    EventCode CommEvent() const override { return m_commEvent; }
    QString Input() override;
    void Output(const QString &text) override;
    void reopen() override;

    // Most characters waiting unread before they are thrown away (about
    // 8 s of the line at 9600 baud: far more than a station that keeps up
    // ever holds), and most characters of output the device has not taken.
    static constexpr qint64 ReadBufferLimit = 8192;
    static constexpr qint64 WriteBufferLimit = 8192;
    void raiseWaiting() override { m_receiveEvents.schedule(); }

    // The device path COM n resolves to now.
    QString portPath(int port) const;

private:
    void open();
    void openPath(const QString &path);
    void lockDevice(const QString &path);
    void dropBacklog();
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
    QString m_settings = defaultLineSettings;
    int m_inputLen = 0;
    EventCode m_commEvent = EventCode::None;

    bool m_opening = false;
    bool m_lost = false;
    ReceiveEvents m_receiveEvents{*this, [this] { return m_port.isOpen() && m_port.bytesAvailable() > 0; },
                                  [this] {
                                      m_commEvent = EventCode::Receive;
                                      Q_EMIT OnComm();
                                  }};
};

} // namespace qf
