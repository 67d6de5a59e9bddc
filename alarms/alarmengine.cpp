#include "alarms/alarmengine.h"

#include <algorithm>
#include <cmath>

namespace qf {

namespace {

constexpr AlarmId SilentAlarm{StationSensor, AlarmKind::Silent};

double secondsBetween(RealTime from, RealTime to)
{
    return std::chrono::duration<double>(to - from).count();
}

} // namespace

void AlarmEngine::setLimits(AlarmLimits limits, RealTime now)
{
    m_limits = std::move(limits);
    for (int index = 0; index < AlarmCount; ++index) {
        const AlarmId alarm = alarmAt(index);
        if (watched(alarm))
            continue;
        at(alarm).beyondSince.reset();
        if (at(alarm).active)
            setActive(alarm, false, std::nullopt, std::nullopt, now);
    }
}

bool AlarmEngine::watched(AlarmId alarm) const
{
    return alarm.kind == AlarmKind::Silent ? m_limits.silentAfter.count() > 0
                                           : m_limits.limit(alarm).has_value();
}

void AlarmEngine::take(const Reading &reading, RealTime now)
{
    m_snapshot.lastRecord = reading.stamp.value_or(now);
    if (status(SilentAlarm).active)
        setActive(SilentAlarm, false, std::nullopt, reading.rowid, now);
    for (int sensor = 1; sensor <= schema::SensorCount; ++sensor) {
        const std::optional<double> value = reading.values[std::size_t(sensor - 1)];
        if (!value || std::isnan(*value))
            continue;
        for (const AlarmKind kind : SensorAlarmKinds)
            evaluate({sensor, kind}, *value, m_limits.sensor(sensor), reading, now);
    }
}

void AlarmEngine::evaluate(AlarmId alarm, double value, const SensorLimits &limits, const Reading &reading,
                           RealTime now)
{
    const std::optional<double> limit = limits.limit(alarm.kind);
    if (!limit)
        return;
    const bool high = isHighAlarm(alarm.kind);
    AlarmStatus &status = at(alarm);
    if (status.active) {
        const bool inside = high ? value <= *limit - limits.deadband : value >= *limit + limits.deadband;
        if (inside)
            setActive(alarm, false, value, reading.rowid, now);
        return;
    }
    const bool beyond = high ? value > *limit : value < *limit;
    if (!beyond) {
        status.beyondSince.reset();
        return;
    }
    if (limits.delay.count() > 0) {
        // Only records with a time stamp can prove how long the value stayed.
        if (!reading.stamp)
            return;
        if (!status.beyondSince)
            status.beyondSince = reading.stamp;
        if (*reading.stamp - *status.beyondSince < limits.delay)
            return;
    }
    setActive(alarm, true, value, reading.rowid, now);
}

void AlarmEngine::setActive(AlarmId alarm, bool active, std::optional<double> value,
                            std::optional<qint64> rowid, RealTime now)
{
    AlarmStatus &status = at(alarm);
    status.active = active;
    status.beyondSince.reset();
    status.value = value;
    status.recordRowid = rowid;
    if (status.state == AlarmState::Shelved)
        return;
    if (active)
        status.state = AlarmState::Unacknowledged;
    else
        status.state = status.state == AlarmState::Unacknowledged ? AlarmState::Returned : AlarmState::Normal;
    status.since = now;
    addEvent(alarm, active ? AlarmEventKind::Raised : AlarmEventKind::Cleared, now);
}

void AlarmEngine::expireShelves(RealTime now)
{
    for (int index = 0; index < AlarmCount; ++index) {
        const AlarmStatus &status = m_snapshot.statuses[std::size_t(index)];
        if (status.state == AlarmState::Shelved && status.shelvedUntil && *status.shelvedUntil <= now)
            unshelve(alarmAt(index), {}, now);
    }
}

void AlarmEngine::tick(RealTime now)
{
    expireShelves(now);
    checkSilence(now);
}

void AlarmEngine::checkSilence(RealTime now)
{
    if (m_limits.silentAfter.count() <= 0)
        return;
    if (!m_snapshot.lastRecord) // no record yet: silence counts from now
        m_snapshot.lastRecord = now;
    if (status(SilentAlarm).active || now - *m_snapshot.lastRecord < m_limits.silentAfter)
        return;
    setActive(SilentAlarm, true, std::floor(secondsBetween(*m_snapshot.lastRecord, now)), std::nullopt, now);
}

int AlarmEngine::acknowledge(const AlarmSelector &selector, const QString &user, RealTime now)
{
    int acknowledged = 0;
    for (int index = 0; index < AlarmCount; ++index) {
        const AlarmId alarm = alarmAt(index);
        AlarmStatus &status = at(alarm);
        if (!selector.matches(alarm))
            continue;
        if (status.state == AlarmState::Unacknowledged)
            status.state = AlarmState::Acknowledged;
        else if (status.state == AlarmState::Returned)
            status.state = AlarmState::Normal;
        else
            continue;
        status.since = now;
        addEvent(alarm, AlarmEventKind::Acknowledged, now, user);
        ++acknowledged;
    }
    return acknowledged;
}

int AlarmEngine::shelve(const AlarmSelector &selector, std::chrono::minutes duration, const QString &user,
                        RealTime now)
{
    duration = std::clamp(duration, std::chrono::minutes(0), MaxShelve);
    int changed = 0;
    for (int index = 0; index < AlarmCount; ++index) {
        const AlarmId alarm = alarmAt(index);
        if (!selector.matches(alarm))
            continue;
        AlarmStatus &status = at(alarm);
        // A sensor's alarms without a limit are left alone unless named.
        if (!selector.kind && !watched(alarm) && status.state == AlarmState::Normal)
            continue;
        if (duration.count() == 0) {
            if (status.state != AlarmState::Shelved)
                continue;
            unshelve(alarm, user, now);
        } else {
            status.state = AlarmState::Shelved;
            status.shelvedUntil = now + duration;
            status.since = now;
            addEvent(alarm, AlarmEventKind::Shelved, now, user);
            m_events.back().value = double(duration.count());
        }
        ++changed;
    }
    return changed;
}

void AlarmEngine::unshelve(AlarmId alarm, const QString &user, RealTime now)
{
    AlarmStatus &status = at(alarm);
    status.shelvedUntil.reset();
    status.state = AlarmState::Normal;
    status.since = now;
    addEvent(alarm, AlarmEventKind::Unshelved, now, user);
    if (status.active) { // still beyond: the operator hears of it anew
        status.state = AlarmState::Unacknowledged;
        addEvent(alarm, AlarmEventKind::Raised, now);
    }
}

void AlarmEngine::addEvent(AlarmId alarm, AlarmEventKind kind, RealTime now, const QString &user)
{
    const AlarmStatus &status = this->status(alarm);
    const bool ofCondition = kind == AlarmEventKind::Raised || kind == AlarmEventKind::Cleared;
    m_events.push_back(AlarmEvent{0, now, alarm, kind, ofCondition ? status.value : std::nullopt,
                                  ofCondition ? status.recordRowid : std::nullopt, user});
}

std::vector<AlarmEvent> AlarmEngine::takeEvents()
{
    std::vector<AlarmEvent> events;
    events.swap(m_events);
    return events;
}

} // namespace qf
