#pragma once

#include "uplink/centrallog.h"
#include "uplink/storereader.h"

#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace qf {

// Forwards every record of a station's store to the central table exactly
// once: it resumes after the station's newest central row, forwards what the
// store holds beyond it in batches, then follows new records. A store that
// no longer holds that row as it was sent (the station deleted all records,
// which restarts rowids at 1) starts the next generation from its first
// record. Faults of the central database and a busy store are retried with a
// bounded back-off.
class Forwarder {
public:
    // Pauses for the given time; false when the uplink is asked to stop.
    using Pause = std::function<bool(std::chrono::milliseconds)>;
    // Hears one line per change of state.
    using Report = std::function<void(const QString &)>;

    Forwarder(QString storePath, CentralLog &central, QString station, Pause pause, Report report);

    // Runs until pause says stop (after the batch in flight). Throws a
    // StationError for a store that is missing or not the station's, a
    // lasting CentralError for a database that refuses the uplink.
    void run();

private:
    enum class State { Starting, CatchingUp, Following, DatabaseDown, StoreBusy };

    void step();
    void resume();
    void forward(std::vector<ForwardedRecord> records);
    void newGeneration(const QString &why);
    void enter(State state, const QString &line);
    bool backOff();

    QString m_storePath;
    CentralLog &m_central;
    QString m_station;
    Pause m_pause;
    Report m_report;
    std::optional<StoreReader> m_store;
    State m_state = State::Starting;
    int m_generation = 1;
    std::optional<ForwardedRecord> m_last; // the newest record sent in this generation
    std::chrono::milliseconds m_backOff{0};
};

} // namespace qf
