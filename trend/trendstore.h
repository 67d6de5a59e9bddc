#pragma once

#include "trend/trenddata.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

// What tells one record from another when the store is looked at again: a
// delete-all or another store copied in changes the record at a rowid.
struct RecordKey {
    qint64 rowid = 0;
    QByteArray serial;
    QByteArray stamp;
    bool operator==(const RecordKey &) const = default;
};

// One record as read for the plot; the texts are valid during the callback.
struct StoredSample {
    qint64 rowid = 0;
    std::string_view serial;
    std::string_view stamp;
    SensorValues values{};
};

// The store velk.mdb opened read-only through SQLite: the viewer never
// writes it nor changes its journal mode. Every read is a statement of its
// own, so no read transaction outlives it and the station's write-ahead log
// can be checkpointed between reads. Errors are StationErrors with the
// station's numbers.
class TrendStore {
public:
    // Opens the store file at path and checks table log and its six fields.
    explicit TrendStore(const QString &path);
    ~TrendStore();
    TrendStore(const TrendStore &) = delete;
    TrendStore &operator=(const TrendStore &) = delete;

    const QString &path() const { return m_path; }
    // The highest rowid, 0 for an empty table.
    qint64 lastRowid();
    // The key of the record at rowid, nothing when there is none.
    std::optional<RecordKey> key(qint64 rowid);
    // Reads up to limit records after rowid in rowid order; returns how many.
    qsizetype readAfter(qint64 rowid, qsizetype limit, const std::function<void(const StoredSample &)> &take);
    // The six fields of the record at rowid as text (empty for a null).
    QStringList recordTexts(qint64 rowid);
    // Writes records with rowids in [first, last] as `quillfern-store export`
    // does.
    void exportRange(qint64 first, qint64 last, QIODevice &out);

private:
    sqlite3_stmt *prepare(const char *sql);
    [[noreturn]] void fail(int code);
    void checkTable();

    QString m_path;
    sqlite3 *m_db = nullptr;
};
