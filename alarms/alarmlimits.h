#pragma once

// The limits of the station's alarms as quillfern.ini holds them: per sensor
// its name, unit, up to four limits, deadband, delay and priority, and the
// station's silence. The service evaluates them; the trend viewer's limits
// dialog edits them (validate as the operator types, write with
// writeLimitsFile).

#include "alarms/alarm.h"

#include <QString>

#include <array>
#include <chrono>
#include <optional>

namespace qf {

enum class AlarmPriority { High, Medium, Low };
// "high", "medium", "low".
QString priorityText(AlarmPriority priority);
std::optional<AlarmPriority> priorityFromText(QStringView text);

struct SensorLimits {
    QString name;
    QString unit;
    std::optional<double> highHigh; // each limit optional: none is no alarm
    std::optional<double> high;
    std::optional<double> low;
    std::optional<double> lowLow;
    double deadband = 0; // in the sensor's unit
    std::chrono::milliseconds delay{0};
    AlarmPriority priority = AlarmPriority::Medium;

    std::optional<double> limit(AlarmKind kind) const;
    bool operator==(const SensorLimits &) const = default;
};

struct AlarmLimits {
    std::array<SensorLimits, schema::SensorCount> sensors;
    std::chrono::milliseconds silentAfter{0}; // 0: the station's silence raises nothing
    AlarmPriority silentPriority = AlarmPriority::Medium;

    // Every sensor named "Sensor1"..., the unit "°C" but for the last
    // (vibration) sensor, no limits.
    static AlarmLimits defaults();
    const SensorLimits &sensor(int number) const { return sensors.at(std::size_t(number - 1)); }
    SensorLimits &sensor(int number) { return sensors.at(std::size_t(number - 1)); }
    // The alarm's priority and limit (none for silent).
    AlarmPriority priority(AlarmId alarm) const;
    std::optional<double> limit(AlarmId alarm) const;
    bool operator==(const AlarmLimits &) const = default;
};

// The keys of a sensor's section, in the order they are written.
enum class LimitsKey { Name, Unit, HighHigh, High, Low, LowLow, Deadband, Delay, Priority };
inline constexpr int LimitsKeyCount = int(LimitsKey::Priority) + 1;
// As written in the file: "name", "unit", "highHigh", ...
QString limitsKeyText(LimitsKey key);

// A rule of the limits a sensor breaks: the key to point at, the other key
// of the rule when there is one, and what is wrong.
struct LimitsProblem {
    LimitsKey key;
    std::optional<LimitsKey> other;
    QString message;
};

// The first rule the sensor's limits break: low below high, lowLow not
// above low, high not above highHigh (each pair where both are set),
// deadband and delay not negative, every number finite.
std::optional<LimitsProblem> validateSensor(const SensorLimits &limits);

} // namespace qf
