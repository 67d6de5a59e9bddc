#include "alarms/alarmlimits.h"

#include <QLocale>

#include <cmath>

namespace qf {

namespace {

constexpr std::array<QLatin1String, 3> PriorityNames{QLatin1String("high"), QLatin1String("medium"),
                                                     QLatin1String("low")};
constexpr std::array<QLatin1String, LimitsKeyCount> KeyNames{
    QLatin1String("name"),     QLatin1String("unit"),  QLatin1String("highHigh"),
    QLatin1String("high"),     QLatin1String("low"),   QLatin1String("lowLow"),
    QLatin1String("deadband"), QLatin1String("delay"), QLatin1String("priority")};

// The unit of a temperature sensor.
const QString DegreesCelsius = QStringLiteral("\u00b0C");

// The limits from lowest to highest, with their keys.
struct Bound {
    LimitsKey key;
    std::optional<double> value;
    bool highSide;
};

QString numberText(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

} // namespace

QString priorityText(AlarmPriority priority)
{
    return PriorityNames[std::size_t(priority)];
}

std::optional<AlarmPriority> priorityFromText(QStringView text)
{
    for (std::size_t i = 0; i < PriorityNames.size(); ++i)
        if (text == PriorityNames[i])
            return AlarmPriority(i);
    return std::nullopt;
}

QString limitsKeyText(LimitsKey key)
{
    return KeyNames[std::size_t(key)];
}

std::optional<double> SensorLimits::limit(AlarmKind kind) const
{
    switch (kind) {
    case AlarmKind::HighHigh:
        return highHigh;
    case AlarmKind::High:
        return high;
    case AlarmKind::Low:
        return low;
    case AlarmKind::LowLow:
        return lowLow;
    case AlarmKind::Silent:
        break;
    }
    return std::nullopt;
}

AlarmLimits AlarmLimits::defaults()
{
    AlarmLimits limits;
    for (int sensor = 1; sensor <= schema::SensorCount; ++sensor) {
        limits.sensor(sensor).name = QStringLiteral("Sensor%1").arg(sensor);
        if (sensor < schema::SensorCount) // the last sensor measures vibration
            limits.sensor(sensor).unit = DegreesCelsius;
    }
    return limits;
}

AlarmPriority AlarmLimits::priority(AlarmId alarm) const
{
    return alarm.kind == AlarmKind::Silent ? silentPriority : sensor(alarm.sensor).priority;
}

std::optional<double> AlarmLimits::limit(AlarmId alarm) const
{
    return alarm.kind == AlarmKind::Silent ? std::nullopt : sensor(alarm.sensor).limit(alarm.kind);
}

std::optional<LimitsProblem> validateSensor(const SensorLimits &limits)
{
    const std::array<Bound, 4> bounds{
        Bound{LimitsKey::LowLow, limits.lowLow, false}, Bound{LimitsKey::Low, limits.low, false},
        Bound{LimitsKey::High, limits.high, true}, Bound{LimitsKey::HighHigh, limits.highHigh, true}};
    for (const Bound &bound : bounds)
        if (bound.value && !std::isfinite(*bound.value))
            return LimitsProblem{bound.key, std::nullopt, QStringLiteral("must be a finite number")};
    // Every pair of limits that are set, in order: a low limit lies below a
    // high one; two on the same side may be equal.
    for (std::size_t lower = 0; lower < bounds.size(); ++lower) {
        for (std::size_t upper = lower + 1; upper < bounds.size(); ++upper) {
            const Bound &a = bounds[lower];
            const Bound &b = bounds[upper];
            if (!a.value || !b.value)
                continue;
            const bool strict = a.highSide != b.highSide;
            if (strict ? *a.value < *b.value : *a.value <= *b.value)
                continue;
            return LimitsProblem{a.key, b.key,
                                 QStringLiteral("%1 (%2) must be %3 %4 (%5)")
                                     .arg(limitsKeyText(a.key), numberText(*a.value),
                                          strict ? QStringLiteral("below") : QStringLiteral("at most"),
                                          limitsKeyText(b.key), numberText(*b.value))};
        }
    }
    if (!(limits.deadband >= 0) || !std::isfinite(limits.deadband))
        return LimitsProblem{LimitsKey::Deadband, std::nullopt,
                             QStringLiteral("must be a number of at least 0")};
    if (limits.delay.count() < 0)
        return LimitsProblem{LimitsKey::Delay, std::nullopt, QStringLiteral("must be at least 0 seconds")};
    return std::nullopt;
}

} // namespace qf
