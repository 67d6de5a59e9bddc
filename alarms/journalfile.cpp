#include "alarms/journalfile.h"

#include <QUuid>

namespace qf {

namespace {

// The journal's layout; a later one gets a new number.
constexpr QLatin1String Format("1");

constexpr const char *MakeTables = R"(
CREATE TABLE alarm_journal (key TEXT PRIMARY KEY, value TEXT);
CREATE TABLE alarm_event (id INTEGER PRIMARY KEY AUTOINCREMENT, time TEXT NOT NULL, sensor INTEGER NOT NULL,
    alarm TEXT NOT NULL, event TEXT NOT NULL, value REAL, record_rowid INTEGER, user TEXT);
CREATE INDEX alarm_event_time ON alarm_event (time);
CREATE TABLE alarm_state (sensor INTEGER NOT NULL, alarm TEXT NOT NULL, state TEXT NOT NULL,
    active INTEGER NOT NULL, since TEXT, value REAL, record_rowid INTEGER, shelved_until TEXT,
    beyond_since TEXT, PRIMARY KEY (sensor, alarm));
)";

constexpr const char *SelectEvents = "SELECT id, time, sensor, alarm, event, value, record_rowid, user "
                                     "FROM alarm_event ";

std::optional<RealTime> timeOf(const QString &text)
{
    return text.isNull() ? std::nullopt : parseJournalTime(text);
}

} // namespace

JournalFile::JournalFile(const QString &path, SqliteFile::Access access) : m_db(path, access)
{
    if (access != SqliteFile::Access::ReadOnly) {
        m_db.exec("PRAGMA journal_mode = WAL");
        m_db.exec("PRAGMA synchronous = FULL");
    }
    if (access == SqliteFile::Access::Create) {
        m_db.exec("BEGIN IMMEDIATE");
        try {
            SqliteStatement tables = m_db.prepare("SELECT count(*) FROM sqlite_master");
            tables.next();
            if (tables.integer(0) == 0) {
                make();
                m_new = true;
            }
            m_db.exec("COMMIT");
        } catch (...) {
            m_db.exec("ROLLBACK");
            throw;
        }
    }
    SqliteStatement journal = m_db.prepare("SELECT count(*) FROM sqlite_master WHERE name = 'alarm_journal'");
    journal.next();
    if (journal.integer(0) != 1 || info(journalkey::Format) != Format)
        throw StationError(ErrorCode::TableMissing, QStringLiteral("%1 is not an alarm journal").arg(path));
}

void JournalFile::make()
{
    m_db.exec(MakeTables);
    setInfo(journalkey::Format, Format);
    setInfo(journalkey::Identity, QUuid::createUuid().toString(QUuid::WithoutBraces));
    SqliteStatement insert = m_db.prepare("INSERT INTO alarm_state (sensor, alarm, state, active, since) "
                                          "VALUES (?, ?, ?, 0, ?)");
    const QString now = journalTimeText(
        std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now()));
    for (int index = 0; index < AlarmCount; ++index) {
        const AlarmId alarm = alarmAt(index);
        insert.bind(1, qint64(alarm.sensor))
            .bind(2, alarmKindText(alarm.kind))
            .bind(3, alarmStateText(AlarmState::Normal))
            .bind(4, now)
            .run();
    }
}

QString JournalFile::info(const char *key)
{
    SqliteStatement select = m_db.prepare("SELECT value FROM alarm_journal WHERE key = ?");
    select.bind(1, QString::fromLatin1(key));
    return select.next() ? select.text(0) : QString();
}

QByteArray JournalFile::infoBytes(const char *key)
{
    SqliteStatement select = m_db.prepare("SELECT value FROM alarm_journal WHERE key = ?");
    select.bind(1, QString::fromLatin1(key));
    return select.next() ? select.bytes(0) : QByteArray();
}

void JournalFile::setInfo(const char *key, const QString &value)
{
    m_db.prepare("INSERT OR REPLACE INTO alarm_journal (key, value) VALUES (?, ?)")
        .bind(1, QString::fromLatin1(key))
        .bind(2, value)
        .run();
}

void JournalFile::setInfo(const char *key, const QByteArray &value)
{
    m_db.prepare("INSERT OR REPLACE INTO alarm_journal (key, value) VALUES (?, ?)")
        .bind(1, QString::fromLatin1(key))
        .bind(2, value)
        .run();
}

std::array<AlarmStatus, AlarmCount> JournalFile::statuses()
{
    std::array<AlarmStatus, AlarmCount> statuses{};
    SqliteStatement select = m_db.prepare("SELECT sensor, alarm, state, active, since, value, record_rowid, "
                                          "shelved_until, beyond_since FROM alarm_state");
    while (select.next()) {
        const std::optional<AlarmKind> kind = alarmKindFromText(select.text(1));
        const std::optional<AlarmState> state = alarmStateFromText(select.text(2));
        const int sensor = int(select.integer(0));
        const bool known = kind && state &&
                           (*kind == AlarmKind::Silent ? sensor == StationSensor
                                                       : sensor >= 1 && sensor <= schema::SensorCount);
        if (!known)
            continue; // a row of a later layout
        AlarmStatus &status = statuses[std::size_t(alarmIndex({sensor, *kind}))];
        status.state = *state;
        status.active = select.integer(3) != 0;
        status.since = timeOf(select.text(4)).value_or(RealTime{});
        status.value = select.real(5);
        status.recordRowid = select.optionalInteger(6);
        status.shelvedUntil = timeOf(select.text(7));
        status.beyondSince = timeOf(select.text(8));
    }
    return statuses;
}

std::vector<AlarmEvent> JournalFile::readEvents(SqliteStatement &select)
{
    std::vector<AlarmEvent> events;
    while (select.next()) {
        const std::optional<AlarmKind> kind = alarmKindFromText(select.text(3));
        const std::optional<AlarmEventKind> event = alarmEventFromText(select.text(4));
        if (!kind || !event)
            continue; // a row of a later layout
        events.push_back(AlarmEvent{select.integer(0), timeOf(select.text(1)).value_or(RealTime{}),
                                    AlarmId{int(select.integer(2)), *kind}, *event, select.real(5),
                                    select.optionalInteger(6), select.text(7)});
    }
    return events;
}

std::vector<AlarmEvent> JournalFile::eventsAfter(qint64 id, qsizetype limit)
{
    SqliteStatement select =
        m_db.prepare((QByteArray(SelectEvents) + "WHERE id > ? ORDER BY id LIMIT ?").constData());
    select.bind(1, id).bind(2, qint64(limit));
    return readEvents(select);
}

std::vector<AlarmEvent> JournalFile::eventsBetween(std::optional<RealTime> from, std::optional<RealTime> to)
{
    SqliteStatement select =
        m_db.prepare((QByteArray(SelectEvents) +
                      "WHERE (?1 IS NULL OR time >= ?1) AND (?2 IS NULL OR time < ?2) ORDER BY id")
                         .constData());
    if (from)
        select.bind(1, journalTimeText(*from));
    if (to)
        select.bind(2, journalTimeText(*to));
    return readEvents(select);
}

qint64 JournalFile::newestEventId()
{
    SqliteStatement select = m_db.prepare("SELECT max(id) FROM alarm_event");
    return select.next() ? select.integer(0) : 0;
}

bool JournalFile::changedByOthers()
{
    SqliteStatement select = m_db.prepare("PRAGMA data_version");
    select.next();
    const qint64 version = select.integer(0);
    const bool changed = m_dataVersion && *m_dataVersion != version;
    m_dataVersion = version;
    return changed;
}

} // namespace qf
