#pragma once

#include "alarms/alarm.h"
#include "alarms/alarmlimits.h"

#include <QString>

#include <array>
#include <chrono>
#include <optional>
#include <vector>

namespace qf {

// One record as the alarms see it: its rowid, its time stamp as a moment
// (nothing when it has none that can be read) and its values (nothing for a
// null or a text that is no number).
struct Reading {
    qint64 rowid = 0;
    std::optional<RealTime> stamp;
    std::array<std::optional<double>, schema::SensorCount> values{};
};

// Which alarms an operator's action is for: every alarm, those of a sensor,
// or one.
struct AlarmSelector {
    std::optional<int> sensor; // nothing: every sensor (and the station)
    std::optional<AlarmKind> kind;
    bool matches(AlarmId alarm) const
    {
        return (!sensor || *sensor == alarm.sensor) && (!kind || *kind == alarm.kind);
    }
};

// The longest an operator may shelve an alarm for.
inline constexpr std::chrono::minutes MaxShelve = std::chrono::hours(8);

// The alarms' state machine, without any I/O: it takes records in store
// order, the operator's actions and the passing of time, and makes the
// events of the journal.
//
// A limit's alarm raises when a record's value is beyond the limit (above a
// high one, below a low one) and the values have stayed beyond it for the
// sensor's delay, counted in the records' own time stamps (at once when the
// delay is 0); it clears when a value is back inside by at least the
// deadband. A missing value changes nothing. Raised, an alarm waits for its
// acknowledgement (Unacknowledged), which it may get while still active
// (Acknowledged, then Normal when it clears) or after it has cleared
// (Returned, then Normal). Shelved, it follows its condition silently until
// the time runs out or the operator unshelves it; then it is raised again
// when the condition is still there. The station's silent alarm raises when
// no record came for silentAfter and clears with the next record.
class AlarmEngine {
public:
    // What the journal keeps of the engine besides its events.
    struct Snapshot {
        std::array<AlarmStatus, AlarmCount> statuses{};
        std::optional<RealTime> lastRecord; // the newest record's moment, for silent
        bool operator==(const Snapshot &) const = default;
    };

    explicit AlarmEngine(AlarmLimits limits = AlarmLimits::defaults()) : m_limits(std::move(limits)) {}

    // New limits: an active alarm whose limit is gone clears.
    void setLimits(AlarmLimits limits, RealTime now);
    const AlarmLimits &limits() const { return m_limits; }

    // Takes up the state kept in the journal (the limits stay); events not
    // taken yet are dropped.
    void restore(const Snapshot &snapshot)
    {
        m_snapshot = snapshot;
        m_events.clear();
    }
    const Snapshot &snapshot() const { return m_snapshot; }
    const AlarmStatus &status(AlarmId alarm) const
    {
        return m_snapshot.statuses[std::size_t(alarmIndex(alarm))];
    }

    // Evaluates the next record.
    void take(const Reading &reading, RealTime now);
    // Unshelves alarms whose time ran out.
    void expireShelves(RealTime now);
    // expireShelves, and raises silent when no record came for too long.
    void tick(RealTime now);

    // Acknowledges every selected alarm that waits for it; returns how many.
    int acknowledge(const AlarmSelector &selector, const QString &user, RealTime now);
    // Shelves the selected alarms for the given time (1 minute to MaxShelve),
    // or unshelves them for 0; returns how many changed. A selector that
    // names no kind passes over alarms that have no limit and are normal.
    int shelve(const AlarmSelector &selector, std::chrono::minutes duration, const QString &user,
               RealTime now);

    bool hasEvents() const { return !m_events.empty(); }
    // The events made since the last call, in order.
    std::vector<AlarmEvent> takeEvents();

private:
    AlarmStatus &at(AlarmId alarm) { return m_snapshot.statuses[std::size_t(alarmIndex(alarm))]; }
    // The alarm has a limit (silent: a time).
    bool watched(AlarmId alarm) const;
    void evaluate(AlarmId alarm, double value, const SensorLimits &limits, const Reading &reading,
                  RealTime now);
    // The condition starts or ends.
    void setActive(AlarmId alarm, bool active, std::optional<double> value, std::optional<qint64> rowid,
                   RealTime now);
    void unshelve(AlarmId alarm, const QString &user, RealTime now);
    void addEvent(AlarmId alarm, AlarmEventKind kind, RealTime now, const QString &user = {});
    void checkSilence(RealTime now);

    AlarmLimits m_limits;
    Snapshot m_snapshot;
    std::vector<AlarmEvent> m_events;
};

} // namespace qf
