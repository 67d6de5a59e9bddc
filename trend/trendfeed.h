#pragma once

#include "store/storefollower.h"
#include "trend/stampclock.h"
#include "trend/trenddata.h"

#include <QIODevice>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace qf {

// The records of a store for the plot, kept up to date as the station
// appends. It maps what the cache file holds when that was made from the
// store as it is now; reads the rest (catchUp), writing each chunk to the
// cache file as it fills, so a build cut short goes on where it stopped;
// then reads what is new when polled, and starts again when the records it
// knows are gone (a delete-all, another store copied in). It reads the
// store only through its StoreFollower.
//
// catchUp may run on a thread of its own: the chunks it builds reach data()
// when the thread that reads data() calls takeBuilt(), the records after
// the last full chunk when catchUp has ended. Every other call belongs to
// that thread.
class TrendFeed {
public:
    // records read, records an estimate says are still to read then
    using Progress = std::function<void(qint64, qint64)>;
    enum class Change { None, Appended, Reset };

    // Opens the store at storePath read-only; throws the station's errors.
    explicit TrendFeed(const QString &storePath, const ChunkGeometry &geometry = ChunkGeometry());
    ~TrendFeed();
    TrendFeed(const TrendFeed &) = delete;
    TrendFeed &operator=(const TrendFeed &) = delete;

    // Maps the cache file when it was made from this store as it is now;
    // returns whether it was.
    bool openCache();
    // Reads the records not yet read up to the newest, until stop is set.
    void catchUp(const Progress &progress = {}, const std::atomic<bool> *stop = nullptr);
    // Takes the chunks built since the last call into data(); whether there
    // were any, or a start again.
    bool takeBuilt();
    // openCache, catchUp and takeBuilt on this thread; returns whether the
    // cache file was used.
    bool load(const Progress &progress = {});
    // Reads the records appended since the last look.
    Change poll();
    // Writes the newest records to the cache file; false when it cannot.
    bool saveCache();
    // Drops every record and reads the store again from its first record
    // (catchUp): for data that met a damaged cache file.
    void restart();

    // Cache files are written to leave reserve free on their disk.
    void setDiskReserve(const DiskReserve &reserve) { m_diskReserve = reserve; }
    // Why the cache file is not written (the records it did not take are
    // kept in memory until a start again); empty while it is. Any thread.
    QString cacheProblem();

    const TrendData &data() const { return m_data; }
    // The store for looking up records, on the thread that reads data().
    StoreFollower &store() { return *m_lookup; }
    const QString &cachePath() const { return m_cachePath; }

private:
    struct Reading;
    void take(const RecordView &record);
    void startAgain(std::optional<qint64> firstMoment);
    void writeChunk(const RecordKey &last);
    // The cache file's writer, made when there is none yet; false when it
    // cannot be written.
    bool makeWriter();
    // Stops writing the cache file until a start again, and tells why.
    void noteCacheProblem(QString problem);
    CacheOrigin origin(const RecordKey &last) const;
    bool useCache(CacheContents contents);
    qint64 readNew(qint64 limit, const Progress &progress = {}, const std::atomic<bool> *stop = nullptr);

    QString m_storePath;
    QString m_cachePath;
    ChunkGeometry m_geometry;
    TrendData m_data;
    std::unique_ptr<StoreFollower> m_lookup;
    std::unique_ptr<Reading> m_reading;

    // Handed from catchUp to takeBuilt.
    struct BuiltChunk {
        std::shared_ptr<CacheFile> file;
        CacheChunkEntry entry;
        std::optional<MemoryChunk> memory; // a chunk the file could not take
    };
    DiskReserve m_diskReserve;
    std::mutex m_builtLock;
    std::vector<BuiltChunk> m_built;
    QString m_cacheProblem; // under m_builtLock
    bool m_startedAgain = false;
    bool m_caughtUp = false;
};

// Writes the records with rowids in [first, last] as `quillfern-store
// export` does; a value is written as the number the store follower reads
// (a text that is no number as an empty field).
void exportRecords(StoreFollower &store, qint64 first, qint64 last, QIODevice &out);

} // namespace qf
