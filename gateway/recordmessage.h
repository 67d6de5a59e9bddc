#pragma once

#include "store/storefollower.h"

#include <QByteArray>
#include <QDateTime>

#include <optional>

namespace qf {

// time in ISO 8601 with its UTC offset, "2026-12-07T18:02:03+01:00" (with
// milliseconds: "2026-12-07T18:02:03.250+01:00"); +00:00 for UTC, never Z.
QString isoTimeWithOffset(const QDateTime &time, bool milliseconds = false);

// A record's stamp as the station's local time; invalid for a null or a
// text that is no stamp.
QDateTime recordTime(const std::optional<std::string_view> &stamp);

// The `record` message: {"generation":1,"rowid":42,"sr_no":"42","time":
// "2026-12-07T18:02:03+01:00","temp1":21.5,...}, the time in ISO 8601 with
// the station's UTC offset, a null (or a stamp that is no time) as null.
QByteArray recordMessage(const RecordView &record, int generation);

// A `sensor/N` payload: the value as a plain number, empty for a null.
QByteArray sensorPayload(std::optional<double> value);

} // namespace qf
