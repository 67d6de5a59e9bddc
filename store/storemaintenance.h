#pragma once

#include "store/recordschema.h"

#include <QIODevice>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>

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

// Runs SQLite's integrity check, checks table log and its six fields, and
// proves that the station can list the records and append one (inside a
// transaction that is rolled back, so nothing changes), and checks the record
// count the station keeps beside the table (logcount.h). Returns the problems
// found; none means the store is sound. A file that cannot be opened as a
// database raises its error.
QStringList checkStore(const QString &path);

// Writes a consistent copy of the store into the new single file dest, also
// while a station logs into it (the records still in the write-ahead log
// included). Refuses a dest that exists.
void backupStore(const QString &path, const QString &dest);
