#pragma once

#include "common/error.h"

#include <QObject>
#include <QString>

namespace qf {

// The serial component: exactly the operations the station uses of its
// serial control. Text is Latin-1 both ways: one character is one byte.
//
// Initial settings (in force until START changes them): port 1,
// "9600,N,8,1", read length 0, receive threshold 1, no handshaking,
// DTR and RTS not raised.
//
// Every failing operation throws StationError with one of the serial
// numbers of ErrorCode.
class SerialComm : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SerialComm() override = default;

    // Code of the event being reported: none yet, or a receive event
    // (characters are waiting).
    enum class EventCode : int { None = 0, Receive = 2 };

    virtual void setCommPort(int port) = 0; // COM port number for the next open
    virtual int CommPort() const = 0;
    virtual void setSettings(const QString &settings) = 0; // "baud,parity,data,stop"
    virtual void setInputLen(int length) = 0;              // most characters one Input returns; 0 = all
    virtual bool PortOpen() const = 0;
    virtual void setPortOpen(bool open) = 0;      // True opens, False closes
    virtual EventCode CommEvent() const = 0;      // code of the event being reported
    virtual QString Input() = 0;                  // removes and returns waiting characters
    virtual void Output(const QString &text) = 0; // sends text, one byte per character

    // Opens again, after a loss, the port that the last open opened: the
    // same entry or device path, never another one the port number would
    // name now. Throws like an open that fails.
    virtual void reopen() { setPortOpen(true); }
    // Raises a receive event again (queued) when characters wait: for a
    // listener that let an event pass without reading, to be asked anew.
    virtual void raiseWaiting() = 0;

Q_SIGNALS:
    // Raised on the event loop for each event of the open port; a receive
    // event whenever at least one character waits, raised again (queued,
    // never recursively) while characters remain after a read.
    void OnComm();
    // The device vanished or reads failed for good: the port has already
    // been closed. Raised exactly once per loss.
    void deviceLost(const Error &error);
    // Characters arrived faster than they were read, beyond what the
    // component holds: text is what it threw away unread.
    void inputDropped(const QString &text);
};

} // namespace qf
