#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace qf {

class StoreConnection;

// The record count of table log, kept in the store file so that an open
// need not walk every page of the table to count it.
//
// The table logRecordCount holds one row: the count and its seal, which is
// always -count - 1. Two triggers on log keep both current for every writer
// of the file, this station or any other program: one after each insert, one
// after each delete. Table log itself is left exactly as it is.
//
// An open trusts the count only when both triggers have exactly the
// station's text, the table has exactly one row whose seal matches, and the
// count fits the table's rowid range (0 exactly when the table is empty, at
// most last - first + 1 otherwise). Anything else (a trigger dropped or
// changed, the row edited or gone) rebuilds the structure with one full count
// of the table.

// What an open of table log needs: its record count and its rowid range,
// read in one snapshot.
struct LogExtent {
    qint64 count = 0;
    qint64 firstRowid = 0;
    qint64 lastRowid = 0;
};

// Reads the extent of table log in one read transaction, its rowid read
// under the name rowid. The count comes from logRecordCount; when that is
// missing or stale it is rebuilt in a write transaction, and when the store
// cannot be written the table is counted instead. firstRowid and lastRowid
// come from the ends of the rowid b-tree.
LogExtent readLogExtent(const StoreConnection &connection, const QString &rowid);

// Rebuilds logRecordCount and its triggers from one count of table log.
// Runs inside the caller's write transaction.
void rebuildRecordCount(const StoreConnection &connection);

// Deletes every record of log in one write transaction and sets the count to
// 0. Without the delete trigger in the way SQLite empties the table by
// freeing its pages instead of deleting row by row; freed pages are not
// overwritten, so the time is that of reading the table's pages once.
void deleteAllRecords(const StoreConnection &connection);

// Runs insert, which appends `added` records to log, inside the caller's
// write transaction with the insert trigger suspended, and adds them to the
// count at once: a bulk append of millions of records does not update the
// count row once per record. The count must be sound (readLogExtent first).
void appendUncounted(const StoreConnection &connection, qint64 added, const std::function<void()> &insert);

// Problems of the record count: none when it is sound and equals a full
// count of log, or when the store has none (the station makes it at its
// next open).
QStringList checkRecordCount(const StoreConnection &connection);

} // namespace qf
