#pragma once

#include "alarms/alarm.h"
#include "alarms/journalfile.h"

#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace qf {

// Reads the alarm journal velk.mdb.alarms (alarmJournalPath) without ever
// writing it, beside a running service: for the trend viewer (summary,
// spans of active alarms), the uplink (forwarding every event once, in id
// order) and the gateway (summary, events as they come). Every call is a
// statement of its own, so no read holds the service up.
//
// Event ids only grow and are never reused; with the identity, made at
// random when the journal was made, (identity, id) names an event for good,
// also after the journal was deleted and made anew.
class AlarmJournalReader {
public:
    // Opens the journal read-only. Throws StationError: 3024 when it is
    // missing (the service has not run yet), 3343 for a file that is no
    // database, 3078 for another database.
    explicit AlarmJournalReader(const QString &path);

    const QString &path() const { return m_file.db().path(); }
    QString identity() { return m_file.info(journalkey::Identity); }

    // Something was written since the last call (the first call says no):
    // a cheap test before reading again.
    bool changed() { return m_file.changedByOthers(); }

    // The state of every alarm, at alarmIndex(alarm).
    std::array<AlarmStatus, AlarmCount> states() { return m_file.statuses(); }
    // Up to limit events with an id above id, in id order (to forward them).
    std::vector<AlarmEvent> eventsAfter(qint64 id, qsizetype limit) { return m_file.eventsAfter(id, limit); }
    // The events of a span of local time, from included to excluded, either
    // end open, in id order.
    std::vector<AlarmEvent> eventsBetween(std::optional<RealTime> from, std::optional<RealTime> to)
    {
        return m_file.eventsBetween(from, to);
    }
    qint64 newestEventId() { return m_file.newestEventId(); }

private:
    JournalFile m_file;
};

} // namespace qf
