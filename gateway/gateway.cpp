#include "gateway/gateway.h"

#include "alarms/alarmjournal.h"
#include "common/error.h"
#include "gateway/gatewayerror.h"
#include "gateway/recordmessage.h"
#include "store/recordschema.h"
#include "store/storetext.h"

#include <algorithm>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace qf {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// How often the store and the journal are looked at: a record reaches the
// broker and the registers within about this.
constexpr auto TickInterval = 100ms;
// Messages sent and not yet acknowledged at most; catching up sends the
// next as acknowledgements come.
constexpr std::size_t MaxInFlight = 500;
constexpr qsizetype RecordBatch = 100;
constexpr int AlarmEventBatch = 100;
// The place file is written at most this often (and at exit): a crash
// repeats at most this much.
constexpr auto SaveInterval = 1s;
constexpr auto FirstBackOff = 250ms;
constexpr auto LongestBackOff = 5s;
// A broker that takes longer to accept the connection counts as down.
constexpr auto ConnectTimeout = 10s;
// At a clean exit, how long the broker may take to acknowledge `offline`.
constexpr auto GoodbyeTimeout = 2s;
constexpr int AtMostOnce = 0;
constexpr int AtLeastOnce = 1;

int millisecondsUntil(Clock::time_point when)
{
    return int(std::clamp<qint64>(std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now()).count(),
                                  0, std::chrono::milliseconds(TickInterval).count()));
}

void drain(int eventFd)
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(eventFd, &count, sizeof count);
}

} // namespace

Gateway::Gateway(GatewaySettings settings, Report report)
    : m_settings(std::move(settings)), m_report(std::move(report)),
      m_placeFile(schema::besideStore(m_settings.storePath, u"gateway")),
      m_alarms(alarmJournalPath(m_settings.storePath))
{
    const std::optional<GatewayPlace> kept = m_placeFile.load();
    m_follower = std::make_unique<StoreFollower>(m_settings.storePath, kept ? kept->mark : FollowMark{});
    if (kept) {
        m_acknowledged = *kept;
        m_saved = *kept;
    } else {
        m_follower->skipToNewest();
        m_acknowledged = {1, m_follower->mark(), m_alarms.newestEventId(), m_alarms.identity()};
        m_placeFile.save(m_acknowledged);
        m_saved = m_acknowledged;
    }
    m_generation = m_acknowledged.generation;
    m_alarmEvent = m_acknowledged.alarmEvent;
    m_alarmJournal = m_acknowledged.alarmJournal;
    m_lastSave = Clock::now();
    m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_settings.modbus) {
        m_modbus = std::make_unique<ModbusServer>(*m_settings.modbus);
        m_report(QStringLiteral("serving Modbus TCP on %1:%2")
                     .arg(m_settings.modbus->host.isEmpty() ? QStringLiteral("*") : m_settings.modbus->host)
                     .arg(m_modbus->port()));
    }
}

Gateway::~Gateway()
{
    shutDown();
    ::close(m_wake);
}

void Gateway::run(int stopFd)
{
    try {
        auto nextTick = Clock::now();
        for (;;) {
            const auto now = Clock::now();
            if (m_settings.mqtt && !m_link && now >= m_nextConnect)
                connect();
            if (m_link && !m_connected && now >= m_connectDeadline) {
                const QString error = m_link->lastError();
                dropLink(error.isEmpty() ? QStringLiteral("no answer within %1 s").arg(ConnectTimeout.count())
                                         : error);
            }
            if (now >= nextTick) {
                tick();
                nextTick = now + TickInterval;
            }
            auto until = nextTick;
            if (m_settings.mqtt && !m_link)
                until = std::min(until, m_nextConnect);
            std::array<pollfd, 2> watched{{{stopFd, POLLIN, 0}, {m_wake, POLLIN, 0}}};
            poll(watched.data(), watched.size(), millisecondsUntil(until));
            if (watched[0].revents != 0)
                break;
            if (watched[1].revents != 0) {
                drain(m_wake);
                handleLinkEvents();
                // Catching up goes on as acknowledgements make room.
                if (m_connected && !m_caughtUp && m_inFlight.size() < MaxInFlight / 2)
                    nextTick = Clock::now();
            }
        }
    } catch (...) {
        shutDown();
        throw;
    }
    shutDown();
}

void Gateway::tick()
{
    try {
        followStore();
        m_plant.storeReadable = true;
        if (m_storeState == StoreState::Busy)
            m_report(QStringLiteral("store readable again"));
        m_storeState = StoreState::Readable;
    } catch (const StationError &e) {
        if (e.error().code != ErrorCode::StoreBusy)
            throw;
        m_plant.storeReadable = false;
        if (m_storeState != StoreState::Busy)
            m_report(QStringLiteral("store busy, retrying: %1").arg(e.error().description));
        m_storeState = StoreState::Busy;
    }
    m_plant.alarms = m_alarms.summary();
    const QDateTime stamp =
        m_plant.newest && m_plant.newest->stamp ? parseStoredDateTime(*m_plant.newest->stamp) : QDateTime();
    m_plant.fresh = stamp.isValid() &&
                    stamp.secsTo(QDateTime::currentDateTime()) <= qint64(m_settings.staleAfter.count());
    if (m_modbus)
        m_modbus->show(registerImage(m_plant));
    if (m_connected)
        publishState(false);
    savePlace(false);
}

void Gateway::followStore()
{
    if (m_rewind) { // read again from what the broker has
        m_follower = std::make_unique<StoreFollower>(m_settings.storePath, m_acknowledged.mark);
        m_generation = m_acknowledged.generation;
        m_alarmEvent = m_acknowledged.alarmEvent;
        m_alarmJournal = m_acknowledged.alarmJournal;
        m_rewind = false;
    }
    if (m_follower->poll() == StoreChange::Restarted) {
        ++m_generation;
        m_report(QStringLiteral("the store was emptied or replaced; generation %1 starts at its first record")
                     .arg(m_generation));
        noteProgress();
    }
    if (!m_settings.mqtt) {
        m_follower->skipToNewest();
        m_alarmEvent = m_alarms.newestEventId();
        m_alarmJournal = m_alarms.identity();
        noteProgress();
    } else if (m_connected) {
        publishRecords();
        if (m_connected)
            publishAlarmEvents();
    }
    const qint64 newest = m_follower->newestRowid();
    m_plant.newest = newest > 0 ? m_follower->recordAt(newest) : std::nullopt;
    m_plant.generation = m_generation;
}

void Gateway::publishRecords()
{
    const QByteArray recordTopic = topic("record");
    bool sent = true;
    while (m_connected && m_inFlight.size() < MaxInFlight) {
        const qsizetype room = std::min(qsizetype(MaxInFlight - m_inFlight.size()), RecordBatch);
        const qsizetype read = m_follower->next(room, [&](const RecordView &record) {
            sent = publishTracked(recordTopic, recordMessage(record, m_generation)) && sent;
        });
        if (read > 0)
            m_inFlight.back().place = place();
        if (!sent) {
            dropLink(QStringLiteral("the client cannot send"));
            return;
        }
        if (read < room) {
            if (!m_caughtUp)
                m_report(QStringLiteral("caught up after record %1 of generation %2; following")
                             .arg(m_follower->mark().last ? m_follower->mark().last->rowid : 0)
                             .arg(m_generation));
            m_caughtUp = true;
            return;
        }
    }
    m_caughtUp = false;
}

void Gateway::publishAlarmEvents()
{
    if (m_inFlight.size() >= MaxInFlight)
        return;
    const QString journal = m_alarms.identity();
    if (!journal.isEmpty() && journal != m_alarmJournal) {
        m_alarmJournal = journal; // a journal made anew: its events from the first
        m_alarmEvent = 0;
        noteProgress();
    }
    const std::vector<AlarmEvent> events = m_alarms.eventsAfter(m_alarmEvent, AlarmEventBatch);
    const QByteArray alarmTopic = topic("alarm");
    for (const AlarmEvent &event : events) {
        if (!publishTracked(alarmTopic, alarmEventMessage(event))) {
            dropLink(QStringLiteral("the client cannot send"));
            return;
        }
        m_alarmEvent = event.id;
        m_inFlight.back().place = place();
    }
}

bool Gateway::publishTracked(const QByteArray &topic, const QByteArray &payload)
{
    const std::optional<int> id = m_link->publish(topic, payload, AtLeastOnce, false);
    m_inFlight.push_back({id, false, std::nullopt});
    return id.has_value();
}

void Gateway::publishState(bool all)
{
    if (all || m_sentNewest != m_plant.newest) {
        for (int sensor = 0; sensor < schema::SensorCount; ++sensor) {
            const std::optional<double> value =
                m_plant.newest ? m_plant.newest->values[std::size_t(sensor)] : std::nullopt;
            m_link->publish(topic("sensor/") + QByteArray::number(sensor + 1), sensorPayload(value),
                            AtMostOnce, true);
        }
        m_sentNewest = m_plant.newest;
    }
    if (all || m_sentFresh != m_plant.fresh) {
        m_link->publish(topic("stale"), m_plant.fresh ? "false" : "true", AtLeastOnce, true);
        m_sentFresh = m_plant.fresh;
    }
    if (all || m_sentAlarms != m_plant.alarms.json) {
        m_link->publish(topic("alarms"), m_plant.alarms.json, AtLeastOnce, true);
        m_sentAlarms = m_plant.alarms.json;
    }
}

void Gateway::connect()
{
    m_link = std::make_unique<MqttLink>(*m_settings.mqtt, m_wake);
    m_connected = false;
    m_connectDeadline = Clock::now() + ConnectTimeout;
    if (m_brokerState == BrokerState::Starting)
        enter(BrokerState::Connecting, QStringLiteral("connecting to the broker at %1:%2")
                                           .arg(m_settings.mqtt->host)
                                           .arg(m_settings.mqtt->port));
}

void Gateway::handleLinkEvents()
{
    if (!m_link)
        return;
    for (const MqttLink::Event &event : m_link->takeEvents()) {
        switch (event.kind) {
        case MqttLink::EventKind::Connected:
            m_connected = true;
            m_caughtUp = false;
            m_backOff = 0ms;
            m_link->publish(topic("status"), "online", AtLeastOnce, true);
            enter(BrokerState::Connected,
                  QStringLiteral("connected to the broker at %1:%2; publishing generation %3 after record %4")
                      .arg(m_settings.mqtt->host)
                      .arg(m_settings.mqtt->port)
                      .arg(m_acknowledged.generation)
                      .arg(m_acknowledged.mark.last ? m_acknowledged.mark.last->rowid : 0));
            publishState(true);
            break;
        case MqttLink::EventKind::Refused:
            if (MqttLink::lastingRefusal(event.code))
                throw GatewayRefused(
                    QStringLiteral("the broker refuses the gateway: %1").arg(MqttLink::refusal(event.code)));
            dropLink(MqttLink::refusal(event.code));
            return;
        case MqttLink::EventKind::Lost: {
            const QString detail = m_link->lastError();
            dropLink(MqttLink::failure(event.code, event.systemError) +
                     (detail.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(detail)));
            return;
        }
        case MqttLink::EventKind::Acknowledged:
            acknowledge(event.code);
            break;
        }
    }
}

void Gateway::acknowledge(int id)
{
    const auto sent = std::find_if(m_inFlight.begin(), m_inFlight.end(), [id](const InFlight &entry) {
        return entry.id == id && !entry.acknowledged;
    });
    if (sent == m_inFlight.end())
        return; // retained state or status: nothing waits for it
    sent->acknowledged = true;
    while (!m_inFlight.empty() && m_inFlight.front().acknowledged) {
        if (m_inFlight.front().place)
            m_acknowledged = *m_inFlight.front().place;
        m_inFlight.pop_front();
    }
}

void Gateway::noteProgress()
{
    if (m_inFlight.empty())
        m_acknowledged = place();
    else
        m_inFlight.push_back({std::nullopt, true, place()});
}

void Gateway::dropLink(const QString &why)
{
    m_link.reset();
    m_connected = false;
    m_inFlight.clear();
    m_rewind = true;
    m_backOff = std::clamp(m_backOff * 2, std::chrono::milliseconds(FirstBackOff),
                           std::chrono::milliseconds(LongestBackOff));
    m_nextConnect = Clock::now() + m_backOff;
    enter(BrokerState::Down, QStringLiteral("broker unavailable, retrying: %1").arg(why));
}

void Gateway::shutDown() noexcept
{
    try {
        if (m_connected) {
            const std::optional<int> goodbye = m_link->publish(topic("status"), "offline", AtLeastOnce, true);
            const auto deadline = Clock::now() + GoodbyeTimeout;
            bool acknowledged = !goodbye;
            while (!acknowledged && m_link && Clock::now() < deadline) {
                pollfd watched{m_wake, POLLIN, 0};
                poll(&watched, 1,
                     int(std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count()));
                drain(m_wake);
                for (const MqttLink::Event &event : m_link->takeEvents()) {
                    if (event.kind == MqttLink::EventKind::Acknowledged) {
                        acknowledge(event.code);
                        acknowledged = acknowledged || event.code == *goodbye;
                    } else if (event.kind == MqttLink::EventKind::Lost) {
                        acknowledged = true;
                    }
                }
            }
            m_link->disconnect();
            m_connected = false;
        }
        m_link.reset();
        savePlace(true);
    } catch (const std::exception &e) {
        m_report(QStringLiteral("at exit: %1").arg(QString::fromUtf8(e.what())));
    }
}

void Gateway::savePlace(bool now)
{
    if (m_acknowledged == m_saved || (!now && Clock::now() - m_lastSave < SaveInterval))
        return;
    m_placeFile.save(m_acknowledged);
    m_saved = m_acknowledged;
    m_lastSave = Clock::now();
}

void Gateway::enter(BrokerState state, const QString &line)
{
    if (state == m_brokerState)
        return;
    m_brokerState = state;
    m_report(line);
}

GatewayPlace Gateway::place() const
{
    return {m_generation, m_follower->mark(), m_alarmEvent, m_alarmJournal};
}

QByteArray Gateway::topic(const char *name) const
{
    return "quillfern/" + m_settings.station.toUtf8() + '/' + name;
}

} // namespace qf
