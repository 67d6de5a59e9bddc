#pragma once

// The one reader of the store for every program beside the station (trend
// viewer, uplink, alarm service, gateway). It never writes the store.

#include "common/error.h"
#include "store/recordschema.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace qf {

// What tells one record from another when the store is looked at again: a
// delete-all or another store copied in changes the record at a rowid.
struct RecordKey {
    qint64 rowid = 0;
    QByteArray srNo;  // the field as stored, as text (empty for a null)
    QByteArray stamp; // TimeAndDate as stored, as text (empty for a null)
    bool operator==(const RecordKey &) const = default;
};

// Where a follower stands: after the record `last` of a store whose first
// record was `first`. Both empty: before the first record of an empty
// store. A program keeps it in its own file beside the store (toText,
// fromText) to go on after a restart exactly where it stopped.
struct FollowMark {
    std::optional<RecordKey> first;
    std::optional<RecordKey> last;
    bool operator==(const FollowMark &) const = default;

    QByteArray toText() const;
    // Nothing when text is not a mark written by toText.
    static std::optional<FollowMark> fromText(const QByteArray &text);
};

// One record as read; the texts are valid only during the callback that
// gets it. A value is the stored number, or a text that is wholly a number;
// anything else (null, other text) is no value.
struct RecordView {
    qint64 rowid = 0;
    std::optional<std::string_view> srNo;
    std::optional<std::string_view> stamp;
    std::array<std::optional<double>, schema::SensorCount> values{};
};

// The same, owning its texts.
struct StoredRecord {
    qint64 rowid = 0;
    std::optional<QString> srNo;
    std::optional<QString> stamp;
    std::array<std::optional<double>, schema::SensorCount> values{};

    static StoredRecord from(const RecordView &view);
    bool operator==(const StoredRecord &) const = default;
};

enum class StoreChange {
    None,      // nothing new after the mark
    Appended,  // records after the mark are there to read
    Restarted, // the records the mark stands on are gone (a delete-all,
               // another store copied in): reading starts again at the first
};

// Follows velk.mdb read-only, beside a running station or without one: it
// never opens the store immutable (it sees every append) and never writes
// it. The table is checked once, at open, with the station's own check
// (store/logtable.h): a missing, foreign or unreadable store throws
// StationError with the station's error numbers (3024 missing, 3343 not a
// database, 3078 no table log, 3146 log a view, 3265 a field missing, 3146
// anything else). SQLite reads a store in write-ahead-log mode through its
// -wal and -shm files; where no station holds the store open they are
// missing; where this user may not make them (a directory it may not
// write) or would make them as another user than the store's owner (the
// station could not write them after), the follower reads the store as it
// stands, makes nothing, and opens it again, shared, once a station has made
// its -wal (a store nobody writes cannot change meanwhile). Every
// read is a statement or one short read transaction of its own, so the
// station's write-ahead log can be checkpointed between calls. A follower is
// used by one thread.
class StoreFollower {
public:
    using Sink = std::function<void(const RecordView &)>;

    // Opens the store at storePath and stands at mark (default: before the
    // first record).
    explicit StoreFollower(const QString &storePath, FollowMark mark = {});
    ~StoreFollower();
    StoreFollower(const StoreFollower &) = delete;
    StoreFollower &operator=(const StoreFollower &) = delete;

    const QString &path() const { return m_path; }
    const FollowMark &mark() const { return m_mark; }

    // Stands after the newest record (a first run that raises nothing
    // historical).
    void skipToNewest();
    // Looks at the store again: Restarted when a record the mark stands on
    // is gone or changed (a delete-all, another store copied in, the first
    // records deleted), and moves the mark before the first record. A store
    // file replaced (another inode) is opened again. Throws StationError
    // when the store is gone (3024), replaced by a file that is no store, or
    // holds a record at the highest rowid, so that new records get random
    // rowids and can no longer be followed in order (3146).
    StoreChange poll();
    // Reads up to limit records after the mark, in store order, hands each
    // to take and moves the mark past those take returned from; returns how
    // many were read. Reads nothing when the mark no longer holds (the next
    // poll says Restarted).
    qsizetype next(qsizetype limit, const Sink &take);
    std::vector<StoredRecord> next(qsizetype limit);

    // Plain reads that do not move the mark.
    qint64 newestRowid(); // 0 for an empty table
    qint64 recordCount(); // records in table log
    std::optional<RecordKey> keyAt(qint64 rowid);
    std::optional<StoredRecord> recordAt(qint64 rowid);
    // Up to limit records with rowid > after, in rowid order.
    qsizetype readAfter(qint64 after, qsizetype limit, const Sink &take);

    // The open store file and its statements (the follower's own).
    struct Connection;

private:
    // Opens the store file the path names now, checks its table and
    // prepares the statements.
    static std::unique_ptr<Connection> open(const QString &path);
    // A store removed throws 3024; another file put in its place is opened
    // instead (its own errors thrown).
    void reopenIfReplaced();
    // Whether the records the mark stands on are still there as they were.
    bool markHolds();
    // The first rowid after the mark, nothing when none can follow.
    std::optional<qint64> firstAfterMark() const;
    qsizetype read(qint64 from, qsizetype limit, const Sink &take, bool moveMark);

    QString m_path;
    FollowMark m_mark;
    std::unique_ptr<Connection> m_db;
};

} // namespace qf
