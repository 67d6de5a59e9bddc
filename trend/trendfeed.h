#pragma once

#include "trend/stampclock.h"
#include "trend/trenddata.h"
#include "trend/trendstore.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The records of a store for the plot, kept up to date as the station
// appends: loads them (from the cache file when it still matches the
// store), reads what is new when polled, and starts again when the records
// it knows are gone (a delete-all, another store copied in).
class TrendFeed {
public:
    // records read so far, records to read
    using Progress = std::function<void(qint64, qint64)>;
    enum class Change { None, Appended, Reset };

    // Opens the store at path read-only; throws the station's errors.
    explicit TrendFeed(const QString &storePath);

    // Loads every record; returns whether the cache file was used.
    bool load(const Progress &progress = {});
    // Reads the records appended since the last look.
    Change poll();
    // Writes the cache file when it is out of date; false when it cannot be.
    bool saveCache();

    const TrendData &data() const { return m_data; }
    TrendStore &store() { return *m_store; }
    const QString &cachePath() const { return m_cachePath; }

private:
    bool loadCache();
    bool stillMatches();
    void restart();
    qsizetype readNew(qsizetype limit, const Progress &progress = {});
    void take(const StoredSample &sample);

    std::unique_ptr<TrendStore> m_store;
    QString m_cachePath;
    StampClock m_clock;
    TrendData m_data;
    // Records before the first readable stamp wait here for its moment.
    std::vector<std::pair<qint64, SensorValues>> m_unstamped;
    std::optional<RecordKey> m_first;
    std::optional<RecordKey> m_last;
    qsizetype m_cached = -1; // records the cache file holds
};
