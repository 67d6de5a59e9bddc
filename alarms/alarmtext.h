#pragma once

// The alarms in words for the operator: the service's lines, the commands'
// listings, and what the commands take on their command line.

#include "alarms/alarmengine.h"
#include "alarms/alarmlimits.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <chrono>
#include <optional>
#include <vector>

namespace qf {

// "Sensor1 H" (with the sensor's name from the limits), "Station silent".
QString alarmName(AlarmId alarm, const AlarmLimits &limits);
// A value with its unit: "31.5 °C".
QString valueWithUnit(double value, int sensor, const AlarmLimits &limits);

// The line the service writes for an event, without its time:
// "Sensor1 H raised: 31.5 °C beyond 30 °C (record 1234, priority high)".
QString eventLine(const AlarmEvent &event, const AlarmLimits &limits);

// The current alarms (every one that is not normal) as an aligned table
// with a header; one line saying so when there are none.
QStringList alarmTable(const std::array<AlarmStatus, AlarmCount> &statuses, const AlarmLimits &limits);

// The journal's events as CSV (RFC 4180, lines ended by CR LF) with the
// header id,time,sensor,alarm,event,value,record_rowid,user.
QByteArray eventsCsv(const std::vector<AlarmEvent> &events);

// What an operator names on the command line: "all" (when allowed), a
// sensor ("1" to "4", "0" or "station" for the station's silence), or one
// alarm of it ("1:HH", "station:silent").
std::optional<AlarmSelector> parseSelector(const QString &text, bool allowAll);
// Minutes to shelve for: 0 (unshelve) to MaxShelve.
std::optional<std::chrono::minutes> parseShelveMinutes(const QString &text);

// The operator's login name.
QString loginName();

} // namespace qf
