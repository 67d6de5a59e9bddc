#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <mutex>
#include <optional>
#include <vector>

struct mosquitto;

namespace qf {

// How the gateway reaches its broker: mqtt://[user@]host[:port] or
// mqtts://... on the command line, the password from a file or the
// environment.
struct MqttSettings {
    QString host;
    int port = 0;
    bool tls = false;
    QString caFile; // empty: the system's CA store
    QString user;   // empty: none
    std::optional<QByteArray> password;
    QString clientId;
    QByteArray willTopic; // gets "offline", retained, when the link dies
};

// One connection to the broker, from connect to loss: libmosquitto's thread
// runs it and tells what happened as events, waking the gateway through the
// given eventfd. It never reconnects: a lost link is dropped whole, with the
// messages still in flight, and the gateway resends from what the broker
// acknowledged.
class MqttLink {
public:
    enum class EventKind {
        Connected,    // the broker accepted the connection
        Refused,      // the broker refused it (code: the CONNACK code)
        Lost,         // the connection failed or ended (code: libmosquitto's)
        Acknowledged, // the broker has the message with this id
    };
    struct Event {
        EventKind kind;
        int code = 0;
        int systemError = 0; // errno, for a failure of a system call
    };
    static constexpr std::chrono::seconds KeepAlive{5};

    // Starts connecting; throws GatewayRefused for settings libmosquitto
    // refuses (an unreadable CA file, say).
    MqttLink(const MqttSettings &settings, int wakeFd);
    ~MqttLink();
    MqttLink(const MqttLink &) = delete;
    MqttLink &operator=(const MqttLink &) = delete;

    std::vector<Event> takeEvents();
    // Sends a message; its id (Acknowledged names it for QoS 1), or
    // nothing when the link can no longer send.
    std::optional<int> publish(const QByteArray &topic, const QByteArray &payload, int qos, bool retain);
    // Ends the connection in order (a clean exit: no last will).
    void disconnect();
    // The last error libmosquitto logged (a TLS handshake that failed, say).
    QString lastError();

    // Texts for a CONNACK code and for libmosquitto's error codes.
    static QString refusal(int code);
    static QString failure(int code, int systemError);
    // A refusal the same request would meet again (bad credentials, a
    // client the broker does not allow).
    static bool lastingRefusal(int code);

private:
    void note(Event event);

    mosquitto *m_client = nullptr;
    int m_wake = -1;
    std::mutex m_lock;
    std::vector<Event> m_events; // guarded by m_lock
    QString m_lastError;         // guarded by m_lock
};

// Starts and ends libmosquitto for the process (one in main).
class MqttLibrary {
public:
    MqttLibrary();
    ~MqttLibrary();
    MqttLibrary(const MqttLibrary &) = delete;
    MqttLibrary &operator=(const MqttLibrary &) = delete;
};

} // namespace qf
