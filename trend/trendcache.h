#pragma once

#include "trend/trenddata.h"
#include "trend/trendstore.h"

#include <QString>

#include <optional>

// What the cache file of the viewer holds: the records as the plot needs
// them, the keys of the first and the last record they were read from, and
// where the stamp clock stood. It is only used while those two records are
// still in the store unchanged; anything else (a delete-all, another store
// copied in, another time zone) rebuilds it.
struct TrendSnapshot {
    QByteArray zone;
    RecordKey first;
    RecordKey last;
    std::optional<qint64> clock;
    TrendData::Columns columns;
};

// The cache file for the store at storePath: next to it when its directory
// is writable, else in the user's cache directory under a name made from
// the store's path.
QString trendCachePath(const QString &storePath);

// Writes the snapshot (atomically); false when the file cannot be written.
bool writeTrendCache(const QString &path, const TrendData &data, const TrendSnapshot &header);
// Reads a snapshot; nothing when the file is missing, of another version or
// cut short.
std::optional<TrendSnapshot> readTrendCache(const QString &path);
