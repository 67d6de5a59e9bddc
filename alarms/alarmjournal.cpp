#include "alarms/alarmjournal.h"

namespace qf {

namespace {

QString optionalTime(const std::optional<RealTime> &time)
{
    return time ? journalTimeText(*time) : QString();
}

} // namespace

QString alarmJournalPath(const QString &storePath)
{
    return schema::besideStore(storePath, u"alarms");
}

AlarmJournal::AlarmJournal(const QString &path, Open open)
    : m_file(path, open == Open::CreateIfMissing ? SqliteFile::Access::Create : SqliteFile::Access::ReadWrite)
{
}

AlarmJournal::Kept AlarmJournal::load()
{
    Kept kept;
    kept.snapshot.statuses = m_file.statuses();
    kept.snapshot.lastRecord = parseJournalTime(m_file.info(journalkey::LastRecord));
    kept.mark = m_file.infoBytes(journalkey::FollowMark);
    return kept;
}

AlarmJournal::Transaction::Transaction(AlarmJournal &journal) : m_journal(&journal)
{
    journal.m_file.db().exec("BEGIN IMMEDIATE");
}

AlarmJournal::Transaction::~Transaction()
{
    if (m_open) {
        try {
            m_journal->m_file.db().exec("ROLLBACK");
        } catch (const StationError &) { // SQLite has rolled back already
        }
    }
}

void AlarmJournal::Transaction::commit()
{
    m_journal->m_file.db().exec("COMMIT");
    m_open = false;
}

void AlarmJournal::write(std::vector<AlarmEvent> &events, const AlarmEngine::Snapshot &snapshot,
                         const QByteArray &mark)
{
    SqliteFile &db = m_file.db();
    SqliteStatement insert = db.prepare("INSERT INTO alarm_event (time, sensor, alarm, event, value, "
                                        "record_rowid, user) VALUES (?, ?, ?, ?, ?, ?, ?)");
    for (AlarmEvent &event : events) {
        insert.bind(1, journalTimeText(event.time))
            .bind(2, qint64(event.alarm.sensor))
            .bind(3, alarmKindText(event.alarm.kind))
            .bind(4, alarmEventText(event.kind))
            .bind(5, event.value)
            .bind(6, event.recordRowid)
            .bind(7, event.user.isEmpty() ? QString() : event.user)
            .run();
        event.id = db.lastInsertRowid();
    }
    SqliteStatement update = db.prepare("UPDATE alarm_state SET state = ?, active = ?, since = ?, value = ?, "
                                        "record_rowid = ?, shelved_until = ?, beyond_since = ? "
                                        "WHERE sensor = ? AND alarm = ?");
    for (int index = 0; index < AlarmCount; ++index) {
        const AlarmId alarm = alarmAt(index);
        const AlarmStatus &status = snapshot.statuses[std::size_t(index)];
        update.bind(1, alarmStateText(status.state))
            .bind(2, qint64(status.active))
            .bind(3, journalTimeText(status.since))
            .bind(4, status.value)
            .bind(5, status.recordRowid)
            .bind(6, optionalTime(status.shelvedUntil))
            .bind(7, optionalTime(status.beyondSince))
            .bind(8, qint64(alarm.sensor))
            .bind(9, alarmKindText(alarm.kind))
            .run();
    }
    m_file.setInfo(journalkey::LastRecord, optionalTime(snapshot.lastRecord));
    if (!mark.isEmpty())
        m_file.setInfo(journalkey::FollowMark, mark);
}

std::vector<AlarmEvent> AlarmJournal::operate(const AlarmLimits &limits,
                                              const std::function<void(AlarmEngine &)> &act, RealTime now)
{
    Transaction transaction(*this);
    const Kept kept = load();
    AlarmEngine engine(limits);
    engine.restore(kept.snapshot);
    engine.expireShelves(now);
    act(engine);
    std::vector<AlarmEvent> events = engine.takeEvents();
    if (!events.empty()) {
        write(events, engine.snapshot(), kept.mark);
        transaction.commit();
    }
    return events;
}

} // namespace qf
