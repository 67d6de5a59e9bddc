#pragma once

#include "acquisition/receiveevents.h"
#include "acquisition/serialcomm.h"

#include <QByteArray>
#include <QStringList>

#include <optional>

namespace qf {

// In-memory serial component for tests. Every operation is recorded in order
// as text in log():
//   writes  "CommPort=3", "Settings=9600,N,8,1", "InputLen=1",
//           "PortOpen=True", "PortOpen=False", "Output=b"
//   reads   "CommPort?", "PortOpen?", "CommEvent?", "Input?"
// A failing operation is recorded like any other, then throws.
//
// receive() plays characters arriving from the device: like the real
// component, a receive event is raised on the event loop (queued, never from
// inside receive()) and raised again while characters remain after a read
// that took only some of them. Bytes arriving while the port is closed are
// lost, as on a line whose port is not open.
class FakeSerialComm : public SerialComm {
    Q_OBJECT
public:
    explicit FakeSerialComm(QObject *parent = nullptr) : SerialComm(parent) {}

    void setCommPort(int port) override;
    int CommPort() const override { return recorded("CommPort?", m_commPort); }
    void setSettings(const QString &settings) override;
    void setInputLen(int length) override;
    bool PortOpen() const override { return recorded("PortOpen?", m_open); }
    void setPortOpen(bool open) override;
    EventCode CommEvent() const override { return recorded("CommEvent?", m_commEvent); }
    QString Input() override;
    void Output(const QString &text) override;
    void raiseWaiting() override { m_receiveEvents.schedule(); }

    // The recorded operations; clearLog() also forgets sent().
    const QStringList &log() const { return m_log; }
    void clearLog();
    // Recording costs memory in long runs (benchmarks switch it off).
    void setRecording(bool on) { m_recording = on; }

    // Everything written with Output, one byte per character.
    const QByteArray &sent() const { return m_sent; }

    // Characters from the device; raises receive events as described above.
    void receive(const QByteArray &bytes);
    // Characters received but not yet read.
    int waiting() const { return int(m_rx.size()); }
    // Raises OnComm at once with the given CommEvent code (open or not).
    void raiseEvent(EventCode code);

    // The next open, close or Output fails with this error (once each).
    void failNextOpen(const Error &error) { m_failOpen = error; }
    void failNextClose(const Error &error) { m_failClose = error; }
    void failNextOutput(const Error &error) { m_failOutput = error; }

    // The device vanishes: the port closes and deviceLost is raised.
    void loseDevice(const Error &error);

    // Opens seen so far (reopens included).
    int openCount() const { return m_openCount; }

private:
    void record(const QString &operation) const;
    // Records a read and returns what it reads.
    template <typename T> T recorded(const char *read, T value) const
    {
        record(QString::fromLatin1(read));
        return value;
    }
    void throwIfClosed() const;

    mutable QStringList m_log;
    bool m_recording = true;
    QByteArray m_sent;
    QByteArray m_rx;

    int m_commPort = 1;
    int m_inputLen = 0;
    bool m_open = false;
    EventCode m_commEvent = EventCode::None;
    int m_openCount = 0;

    ReceiveEvents m_receiveEvents{*this, [this] { return m_open && !m_rx.isEmpty(); },
                                  [this] {
                                      m_commEvent = EventCode::Receive;
                                      Q_EMIT OnComm();
                                  }};

    std::optional<Error> m_failOpen;
    std::optional<Error> m_failClose;
    std::optional<Error> m_failOutput;
};

} // namespace qf
