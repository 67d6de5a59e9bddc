#pragma once

// What an alarm is: the limit of a sensor (or the station's silence) it
// watches, the state it is in and the events it goes through. Shared by the
// service, its commands and every reader of the alarm journal.

#include "store/recordschema.h"

#include <QString>
#include <QStringView>

#include <array>
#include <chrono>
#include <optional>

namespace qf {

// A moment, as milliseconds since 1970 UTC.
using RealTime = std::chrono::sys_time<std::chrono::milliseconds>;

enum class AlarmKind { HighHigh, High, Low, LowLow, Silent };

// The alarms every sensor has, in the order they are listed.
inline constexpr std::array<AlarmKind, 4> SensorAlarmKinds{AlarmKind::HighHigh, AlarmKind::High,
                                                           AlarmKind::Low, AlarmKind::LowLow};
inline constexpr int AlarmsPerSensor = int(SensorAlarmKinds.size());

// The journal's names: "HH", "H", "L", "LL", "silent".
QString alarmKindText(AlarmKind kind);
std::optional<AlarmKind> alarmKindFromText(QStringView text);
constexpr bool isHighAlarm(AlarmKind kind)
{
    return kind == AlarmKind::HighHigh || kind == AlarmKind::High;
}

// The sensor number of the station's own alarm (silent); sensors count
// from 1.
inline constexpr int StationSensor = 0;

struct AlarmId {
    int sensor = StationSensor; // 1..SensorCount, or StationSensor for Silent
    AlarmKind kind = AlarmKind::Silent;
    bool operator==(const AlarmId &) const = default;
};

// Every alarm: four per sensor, then the station's silence.
inline constexpr int AlarmCount = schema::SensorCount * AlarmsPerSensor + 1;

constexpr int alarmIndex(AlarmId id)
{
    return id.kind == AlarmKind::Silent ? AlarmCount - 1 : (id.sensor - 1) * AlarmsPerSensor + int(id.kind);
}
constexpr AlarmId alarmAt(int index)
{
    return index == AlarmCount - 1
               ? AlarmId{}
               : AlarmId{index / AlarmsPerSensor + 1, SensorAlarmKinds[index % AlarmsPerSensor]};
}

enum class AlarmState {
    Normal,         // inside its limit, nothing to acknowledge
    Unacknowledged, // active, not yet acknowledged
    Acknowledged,   // active and acknowledged
    Returned,       // back inside its limit, not yet acknowledged
    Shelved,        // taken out of service by the operator for a while
};
// "normal", "unacknowledged", "acknowledged", "returned", "shelved".
QString alarmStateText(AlarmState state);
std::optional<AlarmState> alarmStateFromText(QStringView text);

enum class AlarmEventKind { Raised, Cleared, Acknowledged, Shelved, Unshelved };
// "raised", "cleared", "acknowledged", "shelved", "unshelved".
QString alarmEventText(AlarmEventKind kind);
std::optional<AlarmEventKind> alarmEventFromText(QStringView text);

// The state of one alarm as the journal keeps it.
struct AlarmStatus {
    AlarmState state = AlarmState::Normal;
    // The condition: the value went beyond the limit (for the delay) and
    // has not come back inside by the deadband. A shelved alarm keeps
    // following it without telling.
    bool active = false;
    // While the delay runs: the record time the value went beyond the limit.
    std::optional<RealTime> beyondSince;
    std::optional<RealTime> shelvedUntil;
    // The value and record of the last raise or clear (for silent: the
    // seconds without a record).
    std::optional<double> value;
    std::optional<qint64> recordRowid;
    RealTime since{}; // the last change of state
    bool operator==(const AlarmStatus &) const = default;
};

// One line of the journal. user is the login name for an operator's action,
// empty otherwise. A shelved event's value is the minutes it shelves for.
struct AlarmEvent {
    qint64 id = 0; // the journal's number, 0 until written
    RealTime time{};
    AlarmId alarm;
    AlarmEventKind kind = AlarmEventKind::Raised;
    std::optional<double> value;
    std::optional<qint64> recordRowid;
    QString user;
    bool operator==(const AlarmEvent &) const = default;
};

// The journal's form of a moment: local time to the millisecond,
// "2026-12-07 18:02:03.123".
QString journalTimeText(RealTime time);
// Reads that form back (also without milliseconds, seconds or time, and
// with a 'T' between date and time); nothing when it is not one.
std::optional<RealTime> parseJournalTime(QStringView text);

} // namespace qf
