#pragma once

#include "store/recordschema.h"

#include <QIODevice>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>

namespace qf {

// Work on a store file outside the station: making it, filling it with
// synthetic records, exporting and checking it. Errors are StationErrors.

// The store's file name in an application directory.
inline constexpr QLatin1String storeFileName = qf::schema::StoreFileName;

// The store file of an application directory.
QString storeFilePath(const QString &dir);

enum class CreateResult { Created, AlreadyExists };

// Makes the store file with an empty table log and its record count. A file that exists is left
// as it is. A failure leaves no file behind.
CreateResult createStore(const QString &path);

// Appends count synthetic records to an existing store, in batched
// transactions: serial numbers go on from the records already there, one
// second apart up to the current local time. progress, when given, hears the
// records written so far after each batch.
void fillStore(const QString &path, qint64 count, const std::function<void(qint64)> &progress = {});

// Writes every record as CSV (RFC 4180): a header row with the six field
// names, date-times in ISO 8601 form, numbers in C form at full precision,
// lines ended by CR LF.
void exportStore(const QString &path, QIODevice &out);
// The lines exportStore writes: the header, and one record (its six values in
// field order).
QByteArray exportHeaderLine();
QByteArray exportRecordLine(const QVariantList &values);

// Runs SQLite's integrity check, checks table log and its six fields and
// the record count the station keeps beside the table (logcount.h), and
// proves that the station can list and append records by doing so in a
// scratch copy of the store's schema and of the rows an append meets there.
// Writes no file of the store: it reads it through a connection that cannot
// write (the write-ahead log's shared memory included), so that what it
// reports stays there to be seen again. Returns the problems found; none
// means the store is sound. A file that cannot be opened as a database
// raises its error.
QStringList checkStore(const QString &path);

// Mends what the station mends at its start (an unfinished transaction, a
// write-ahead log left behind, the journal mode) and rebuilds the record
// count from a count of the table, also one the station would trust.
void repairStore(const QString &path);

// Writes a consistent copy of the store into the new single file dest, also
// while a station logs into it (the records still in the write-ahead log
// included), writing no file of the store. The copy is made under a
// temporary name beside dest, synchronised to its disk and then named dest,
// so that a failure leaves no file. Refuses an empty dest, one that exists,
// and a symbolic link; a full disk is named as dest's.
void backupStore(const QString &path, const QString &dest);

} // namespace qf
