#pragma once

#include "alarms/alarmengine.h"
#include "alarms/journalfile.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace qf {

// The file name of the journal beside a store: velk.mdb.alarms.
QString alarmJournalPath(const QString &storePath);

// The alarm journal for writing: the service's transitions and the
// operator's actions (its commands, the trend viewer). Every change is one
// transaction that holds the events, the state they lead to and the
// follower's position, written durably (synchronous FULL, write-ahead log),
// so that a kill at any moment leaves all of it or none. Writers take turns
// through SQLite's write lock; each transaction starts from the state as
// kept, so an acknowledgement made by a command while the service runs is
// never lost.
class AlarmJournal {
public:
    enum class Open { Existing, CreateIfMissing };

    // Opens the journal; a missing one throws 3024 unless it may be made
    // (then with a new identity, every alarm normal, and no follow mark).
    AlarmJournal(const QString &path, Open open);

    const QString &path() const { return m_file.db().path(); }
    bool isNew() const { return m_file.isNew(); }
    QString identity() { return m_file.info(journalkey::Identity); }

    // The state as kept, and the follower's mark (empty before the first
    // run has taken its place).
    struct Kept {
        AlarmEngine::Snapshot snapshot;
        QByteArray mark;
    };
    Kept load();
    bool changedByOthers() { return m_file.changedByOthers(); }

    // A write transaction (BEGIN IMMEDIATE): commit() makes it last; one
    // that goes without is rolled back.
    class Transaction {
    public:
        explicit Transaction(AlarmJournal &journal);
        ~Transaction();
        Transaction(const Transaction &) = delete;
        Transaction &operator=(const Transaction &) = delete;
        void commit();

    private:
        AlarmJournal *m_journal;
        bool m_open = true;
    };

    // Within a transaction: appends the events (each gets its id) and
    // writes the state they lead to and the follower's mark.
    void write(std::vector<AlarmEvent> &events, const AlarmEngine::Snapshot &snapshot,
               const QByteArray &mark);

    // An operator's action in a transaction of its own, on the state as
    // kept, with the given limits: shelves whose time ran out are unshelved
    // first. Returns the events written.
    std::vector<AlarmEvent> operate(const AlarmLimits &limits, const std::function<void(AlarmEngine &)> &act,
                                    RealTime now);

    std::vector<AlarmEvent> eventsAfter(qint64 id, qsizetype limit) { return m_file.eventsAfter(id, limit); }
    qint64 newestEventId() { return m_file.newestEventId(); }

private:
    JournalFile m_file;
};

} // namespace qf
