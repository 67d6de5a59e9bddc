#pragma once

#include "gateway/alarmjournal.h"
#include "gateway/modbusserver.h"
#include "gateway/mqttlink.h"
#include "gateway/placefile.h"
#include "gateway/registermap.h"
#include "store/storefollower.h"

#include <QString>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace qf {

struct GatewaySettings {
    QString storePath;
    QString station;
    std::optional<MqttSettings> mqtt;
    std::optional<ListenAddress> modbus;
    std::chrono::seconds staleAfter{10};
};

// The plant gateway: follows the store and the alarm journal, publishes
// every record and alarm event to the broker (QoS 1, in store order) and
// shows the newest record and the alarms in Modbus registers.
//
// Its place (generation, follower mark, alarm event) moves only past what
// the broker acknowledged and is kept in velk.mdb.gateway, so what was
// stored while the gateway or the broker was down is published when both are
// back. A lost broker link is dropped whole and reading goes back to that
// place; the broker is retried with a bounded back-off.
class Gateway {
public:
    // Hears one line per change of state.
    using Report = std::function<void(const QString &)>;

    // Opens the store and the place file (StationError with the station's
    // numbers) and listens for Modbus (GatewayRefused). A first run stands
    // after the store's newest record and the journal's newest event.
    Gateway(GatewaySettings settings, Report report);
    ~Gateway();
    Gateway(const Gateway &) = delete;
    Gateway &operator=(const Gateway &) = delete;

    // Runs until stopFd turns readable, then publishes `offline` and keeps
    // its place. Throws StationError when the store fails for good and
    // GatewayRefused when the broker refuses the gateway for good.
    void run(int stopFd);

private:
    enum class BrokerState { Starting, Connecting, Connected, Down };
    enum class StoreState { Readable, Busy };
    struct InFlight {
        std::optional<int> id; // the message, or none for a note of progress
        bool acknowledged = false;
        std::optional<GatewayPlace> place; // where the gateway stands once this is acknowledged
    };

    void tick();
    void followStore();
    void publishRecords();
    void publishAlarmEvents();
    void publishState(bool all);
    void connect();
    void handleLinkEvents();
    void acknowledge(int id);
    void noteProgress();
    void dropLink(const QString &why);
    void shutDown() noexcept;
    void savePlace(bool now);
    void enter(BrokerState state, const QString &line);
    GatewayPlace place() const;
    QByteArray topic(const char *name) const;
    bool publishTracked(const QByteArray &topic, const QByteArray &payload);

    GatewaySettings m_settings;
    Report m_report;
    PlaceFile m_placeFile;
    AlarmJournalSource m_alarms;
    std::unique_ptr<StoreFollower> m_follower;
    int m_generation = 1;        // of the records read
    qint64 m_alarmEvent = 0;     // the last event read
    QString m_alarmJournal;      // of the journal it was read from
    GatewayPlace m_acknowledged; // what the broker has
    GatewayPlace m_saved;        // what the place file holds
    std::chrono::steady_clock::time_point m_lastSave{};
    PlantState m_plant;
    std::unique_ptr<ModbusServer> m_modbus;

    int m_wake = -1; // an eventfd the broker link rings
    std::unique_ptr<MqttLink> m_link;
    bool m_connected = false;
    bool m_caughtUp = false;
    bool m_rewind = false; // the follower is to go back to m_acknowledged
    std::deque<InFlight> m_inFlight;
    std::chrono::steady_clock::time_point m_nextConnect{};
    std::chrono::steady_clock::time_point m_connectDeadline{};
    std::chrono::milliseconds m_backOff{0};
    BrokerState m_brokerState = BrokerState::Starting;
    StoreState m_storeState = StoreState::Readable;
    // What the broker was last given of the retained state.
    std::optional<std::optional<StoredRecord>> m_sentNewest;
    std::optional<bool> m_sentFresh;
    std::optional<QByteArray> m_sentAlarms;
};

} // namespace qf
