#pragma once

#include <QTimeZone>

#include <optional>
#include <string_view>

namespace qf {

// Reads a record's time stamp as the wall-clock time it names, counted in
// seconds since 1970-01-01 00:00:00 of that same wall clock (no time zone).
// The station's form 'YYYY-MM-DD HH:MM:SS' is read by hand; other forms of a
// date and time written by other tools are tried after it. Nothing when the
// text names no date and time.
std::optional<qint64> parseWallClock(std::string_view text);

// Turns the wall-clock stamps of records, in record order, into the moments
// they are plotted at (seconds since the epoch), never going back:
// - a stamp of the hour that is passed twice when the clock is set back (the
//   autumn hour) is placed at the first of its two moments that does not lie
//   before the previous record, so the repeated hour follows the first one;
// - a stamp that still lies before the previous record (a clock set back by
//   hand), and a stamp that cannot be read, take the previous record's moment.
class StampClock {
public:
    explicit StampClock(QTimeZone zone = QTimeZone::systemTimeZone()) : m_zone(std::move(zone)) {}

    // The moment of the next record; nothing while no record before it (nor
    // this one) had a readable stamp.
    std::optional<qint64> next(std::optional<qint64> wallClock);
    // The moment of the latest record, to go on after records read earlier.
    std::optional<qint64> last() const { return m_last; }
    void resume(std::optional<qint64> last) { m_last = last; }

private:
    struct HourOffsets {
        qint64 hour = -1;
        int earlier = 0; // offset from UTC in seconds before a change in the hour
        int later = 0;   // and after it
        bool earlierValid = true;
        bool laterValid = true;
    };
    const HourOffsets &offsets(qint64 wallClock);
    qint64 moment(qint64 wallClock);

    QTimeZone m_zone;
    HourOffsets m_hour;
    std::optional<qint64> m_last;
};

} // namespace qf
