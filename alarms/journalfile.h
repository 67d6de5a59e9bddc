#pragma once

// The alarm journal's file as both its writer (AlarmJournal) and its
// readers (AlarmJournalReader) see it: the tables, the check that a file is
// a journal, and the reads they share.
//
//   alarm_journal(key PRIMARY KEY, value): format, identity, follow_mark,
//       last_record
//   alarm_event(id INTEGER PRIMARY KEY AUTOINCREMENT, time, sensor, alarm,
//       event, value, record_rowid, user)
//   alarm_state(sensor, alarm, state, active, since, value, record_rowid,
//       shelved_until, beyond_since, PRIMARY KEY (sensor, alarm))

#include "alarms/alarm.h"
#include "alarms/sqlitefile.h"

#include <array>
#include <optional>
#include <vector>

namespace qf {

class JournalFile {
public:
    // Opens the journal at path. With Access::Create a missing or empty
    // file is made a journal (isNew() tells). A file that is another
    // database throws 3078.
    JournalFile(const QString &path, SqliteFile::Access access);

    SqliteFile &db() { return m_db; }
    const SqliteFile &db() const { return m_db; }
    bool isNew() const { return m_new; }

    // A value of alarm_journal; a null QString when it has none.
    QString info(const char *key);
    QByteArray infoBytes(const char *key);
    void setInfo(const char *key, const QString &value);
    void setInfo(const char *key, const QByteArray &value);

    std::array<AlarmStatus, AlarmCount> statuses();
    // Events in id order: after an id (up to limit), or in a span of time.
    std::vector<AlarmEvent> eventsAfter(qint64 id, qsizetype limit);
    std::vector<AlarmEvent> eventsBetween(std::optional<RealTime> from, std::optional<RealTime> to);
    qint64 newestEventId();

    // Another connection committed since the last call (the first call
    // only takes the count).
    bool changedByOthers();

private:
    void make();
    std::vector<AlarmEvent> readEvents(SqliteStatement &select);

    SqliteFile m_db;
    bool m_new = false;
    std::optional<qint64> m_dataVersion;
};

// The keys of alarm_journal.
namespace journalkey {
inline constexpr const char *Format = "format";
inline constexpr const char *Identity = "identity";
inline constexpr const char *FollowMark = "follow_mark";
inline constexpr const char *LastRecord = "last_record";
} // namespace journalkey

} // namespace qf
