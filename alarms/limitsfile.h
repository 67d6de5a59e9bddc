#pragma once

// quillfern.ini, the file of the alarm limits in the application directory:
// Qt's INI form, sections [Station] and [Sensor1] ... [SensorN], each line
// "key=value", a value optionally in double quotes (with \" \\ \n \t),
// lines starting with ';' or '#' are comments. Read strictly: a line, key or
// value that is not understood is an error naming the file, the line and
// the key, never ignored.

#include "alarms/alarmlimits.h"

#include <QByteArray>
#include <QString>

namespace qf {

// The name of the limits file in the application directory.
inline constexpr QLatin1String LimitsFileName("quillfern.ini");

// The limits file of an application directory.
QString limitsFilePath(const QString &appDir);

// Reads the text of a limits file; a key that is missing keeps its default
// (AlarmLimits::defaults()), an empty limit is no limit. Throws StationError
// (ErrorCode::LimitsInvalid) described as "FILE:LINE: [Section] key: what is
// wrong" for the first problem.
AlarmLimits parseLimits(const QByteArray &text, const QString &fileName);

// Reads the file at path; a missing file gives the defaults (no limits).
// Throws as parseLimits, or StationError for a file that cannot be read.
AlarmLimits readLimitsFile(const QString &path);

// The file's text for limits: every key of every section.
QByteArray limitsText(const AlarmLimits &limits);

// Replaces the file at path atomically (a reader sees the old file or the
// new one, never a part) and durably. Throws StationError when it cannot.
void writeLimitsFile(const QString &path, const AlarmLimits &limits);

} // namespace qf
