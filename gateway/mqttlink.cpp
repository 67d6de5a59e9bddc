#include "gateway/mqttlink.h"

#include "gateway/gatewayerror.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <mosquitto.h>
#include <unistd.h>

namespace qf {

namespace {

// libmosquitto would reconnect a lost link by itself after this; the
// gateway drops the link long before.
constexpr unsigned OwnReconnectDelaySeconds = 3600;
constexpr QLatin1String SystemCaDirectory("/etc/ssl/certs");
constexpr int ConnackServerUnavailable = 3;
constexpr int QosAtLeastOnce = 1;

MqttLink *linkOf(void *data)
{
    return static_cast<MqttLink *>(data);
}

} // namespace

MqttLibrary::MqttLibrary()
{
    mosquitto_lib_init();
}
MqttLibrary::~MqttLibrary()
{
    mosquitto_lib_cleanup();
}

MqttLink::MqttLink(const MqttSettings &settings, int wakeFd) : m_wake(wakeFd)
{
    const QByteArray clientId = settings.clientId.toUtf8();
    m_client = mosquitto_new(clientId.constData(), true, this);
    if (m_client == nullptr)
        throw GatewayRefused(QStringLiteral("cannot make an MQTT client"));
    mosquitto_connect_callback_set(m_client, [](mosquitto *, void *data, int code) {
        linkOf(data)->note({code == 0 ? EventKind::Connected : EventKind::Refused, code});
    });
    mosquitto_disconnect_callback_set(m_client, [](mosquitto *, void *data, int code) {
        linkOf(data)->note({EventKind::Lost, code, errno});
    });
    mosquitto_publish_callback_set(m_client, [](mosquitto *, void *data, int id) {
        linkOf(data)->note({EventKind::Acknowledged, id});
    });
    // libmosquitto's thread tells a failed TLS handshake only in its log:
    // the link counts as lost then.
    mosquitto_log_callback_set(m_client, [](mosquitto *, void *data, int level, const char *text) {
        if (level != MOSQ_LOG_ERR)
            return;
        MqttLink *link = linkOf(data);
        {
            const std::lock_guard lock(link->m_lock);
            link->m_lastError = QString::fromUtf8(text);
        }
        link->note({EventKind::Lost, MOSQ_ERR_TLS});
    });
    mosquitto_reconnect_delay_set(m_client, OwnReconnectDelaySeconds, OwnReconnectDelaySeconds, false);
    const QByteArray offline("offline");
    mosquitto_will_set(m_client, settings.willTopic.constData(), int(offline.size()), offline.constData(),
                       QosAtLeastOnce, true);
    if (!settings.user.isEmpty()) {
        const QByteArray user = settings.user.toUtf8();
        mosquitto_username_pw_set(m_client, user.constData(),
                                  settings.password ? settings.password->constData() : nullptr);
    }
    if (settings.tls) {
        const QByteArray caFile = QFile::encodeName(settings.caFile);
        const QByteArray caDirectory = QFile::encodeName(SystemCaDirectory);
        const int set = mosquitto_tls_set(m_client, caFile.isEmpty() ? nullptr : caFile.constData(),
                                          caFile.isEmpty() ? caDirectory.constData() : nullptr, nullptr,
                                          nullptr, nullptr);
        if (set != MOSQ_ERR_SUCCESS)
            throw GatewayRefused(
                QStringLiteral("TLS with CA %1: %2")
                    .arg(caFile.isEmpty() ? SystemCaDirectory : settings.caFile, failure(set, errno)));
    }
    const QByteArray host = settings.host.toUtf8();
    const int connecting =
        mosquitto_connect_async(m_client, host.constData(), settings.port, int(KeepAlive.count()));
    if (connecting != MOSQ_ERR_SUCCESS)
        note({EventKind::Lost, connecting, errno});
    if (mosquitto_loop_start(m_client) != MOSQ_ERR_SUCCESS)
        throw GatewayRefused(QStringLiteral("cannot start the MQTT client's thread"));
}

MqttLink::~MqttLink()
{
    mosquitto_disconnect(m_client); // so its thread ends instead of reconnecting
    mosquitto_loop_stop(m_client, false);
    mosquitto_destroy(m_client);
}

void MqttLink::note(Event event)
{
    {
        const std::lock_guard lock(m_lock);
        m_events.push_back(event);
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(m_wake, &one, sizeof one);
}

std::vector<MqttLink::Event> MqttLink::takeEvents()
{
    const std::lock_guard lock(m_lock);
    return std::exchange(m_events, {});
}

std::optional<int> MqttLink::publish(const QByteArray &topic, const QByteArray &payload, int qos, bool retain)
{
    int id = 0;
    if (mosquitto_publish(m_client, &id, topic.constData(), int(payload.size()), payload.constData(), qos,
                          retain) != MOSQ_ERR_SUCCESS)
        return std::nullopt;
    return id;
}

void MqttLink::disconnect()
{
    mosquitto_disconnect(m_client);
}

QString MqttLink::lastError()
{
    const std::lock_guard lock(m_lock);
    return m_lastError;
}

QString MqttLink::refusal(int code)
{
    return QString::fromUtf8(mosquitto_connack_string(code));
}

QString MqttLink::failure(int code, int systemError)
{
    if (code == MOSQ_ERR_ERRNO)
        return QString::fromLocal8Bit(std::strerror(systemError));
    return QString::fromUtf8(mosquitto_strerror(code));
}

bool MqttLink::lastingRefusal(int code)
{
    return code != ConnackServerUnavailable;
}

} // namespace qf
