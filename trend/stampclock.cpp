#include "trend/stampclock.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>

namespace qf {

namespace {

constexpr qint64 SecondsPerHour = 3600;
constexpr qint64 SecondsPerDay = 86400;
constexpr qint64 HalfDay = SecondsPerDay / 2;
constexpr qint64 HalfHour = SecondsPerHour / 2;
constexpr std::size_t StoredLength = 19; // 'YYYY-MM-DD HH:MM:SS'

bool readDigits(std::string_view text, std::size_t from, std::size_t count, int &value)
{
    value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

qint64 wallSeconds(const QDate &date, int secondsOfDay)
{
    static const qint64 epochDay = QDate(1970, 1, 1).toJulianDay();
    return (date.toJulianDay() - epochDay) * SecondsPerDay + secondsOfDay;
}

std::optional<qint64> parseStoredForm(std::string_view text)
{
    if (text.size() != StoredLength || text[4] != '-' || text[7] != '-' ||
        (text[10] != ' ' && text[10] != 'T') || text[13] != ':' || text[16] != ':')
        return std::nullopt;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!readDigits(text, 0, 4, year) || !readDigits(text, 5, 2, month) || !readDigits(text, 8, 2, day) ||
        !readDigits(text, 11, 2, hour) || !readDigits(text, 14, 2, minute) ||
        !readDigits(text, 17, 2, second))
        return std::nullopt;
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return wallSeconds(date, time.msecsSinceStartOfDay() / 1000);
}

// Forms other tools write: ISO 8601 with fractions or a zone (the zone is
// dropped: the stamp is read as the wall clock it shows), and the common
// day-first and month-first forms.
std::optional<qint64> parseOtherForms(std::string_view text)
{
    static const QStringList formats{
        QStringLiteral("yyyy-MM-dd HH:mm"),    QStringLiteral("yyyy/MM/dd HH:mm:ss"),
        QStringLiteral("dd.MM.yyyy HH:mm:ss"), QStringLiteral("d.M.yyyy H:mm:ss"),
        QStringLiteral("M/d/yyyy h:mm:ss AP"), QStringLiteral("M/d/yyyy H:mm:ss"),
        QStringLiteral("dd/MM/yyyy HH:mm:ss"), QStringLiteral("yyyy-MM-dd"),
    };
    const QString trimmed = QString::fromUtf8(text.data(), qsizetype(text.size())).trimmed();
    QDateTime parsed = QDateTime::fromString(trimmed, Qt::ISODateWithMs);
    for (qsizetype i = 0; !parsed.isValid() && i < formats.size(); ++i)
        parsed = QDateTime::fromString(trimmed, formats.at(i));
    if (!parsed.isValid())
        return std::nullopt;
    return wallSeconds(parsed.date(), parsed.time().msecsSinceStartOfDay() / 1000);
}

} // namespace

std::optional<qint64> parseWallClock(std::string_view text)
{
    if (const auto stored = parseStoredForm(text))
        return stored;
    return parseOtherForms(text);
}

const StampClock::HourOffsets &StampClock::offsets(qint64 wallClock)
{
    const qint64 hour = wallClock >= 0 ? wallClock / SecondsPerHour : (wallClock + 1) / SecondsPerHour - 1;
    if (hour == m_hour.hour)
        return m_hour;
    const qint64 middle = hour * SecondsPerHour + HalfHour;
    auto offsetAt = [this](qint64 moment) {
        return m_zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(moment));
    };
    m_hour.hour = hour;
    m_hour.earlier = offsetAt(middle - HalfDay);
    m_hour.later = offsetAt(middle + HalfDay);
    m_hour.earlierValid = offsetAt(middle - m_hour.earlier) == m_hour.earlier;
    m_hour.laterValid = offsetAt(middle - m_hour.later) == m_hour.later;
    return m_hour;
}

qint64 StampClock::moment(qint64 wallClock)
{
    const HourOffsets &hour = offsets(wallClock);
    const qint64 first = wallClock - std::max(hour.earlier, hour.later);
    const qint64 second = wallClock - std::min(hour.earlier, hour.later);
    const bool firstValid = hour.earlier > hour.later ? hour.earlierValid : hour.laterValid;
    const bool secondValid = hour.earlier > hour.later ? hour.laterValid : hour.earlierValid;
    if (firstValid && secondValid) // the hour passed twice
        return m_last && first < *m_last ? second : first;
    if (secondValid)
        return second;
    return wallClock - hour.earlier; // valid, or the hour skipped in spring
}

std::optional<qint64> StampClock::next(std::optional<qint64> wallClock)
{
    if (wallClock) {
        const qint64 at = moment(*wallClock);
        m_last = m_last ? std::max(*m_last, at) : at;
    }
    return m_last;
}

} // namespace qf
