#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QVariant>

namespace qf {

// Text forms of the values of a record, the same for a freshly committed grid
// row and for the listing of stored records.

// A date-time as the station shows it: the locale's short date and its time
// with seconds.
QString dateTimeText(const QDateTime &dateTime, const QLocale &locale = QLocale::system());

// A stored value as text: empty for a null, the date-time text for a
// date-time, the shortest text that reads back as the same number for a
// number (no group separators), the text itself otherwise.
QString valueText(const QVariant &value, const QLocale &locale = QLocale::system());

// The stored form of a date-time: local time as 'YYYY-MM-DD HH:MM:SS'.
QString storedDateTime(const QDateTime &dateTime);
// Reads the stored form back (a 'T' between date and time is accepted too);
// an invalid date-time when text is not in that form.
QDateTime parseStoredDateTime(const QString &text);

} // namespace qf
