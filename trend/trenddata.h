#pragma once

#include "trend/trendcachefile.h"
#include "trend/trendchunk.h"

#include <memory>
#include <vector>

namespace qf {

// The records of the log as the plot needs them, in record order: the
// moment each is plotted at, its four values and its rowid; and the
// summaries of blocks of 32, 1024... records and of whole chunks, so that a
// view of any span reads a few thousand summaries. Full chunks lie in the
// cache file, mapped (or in memory when the file could not take them); the
// newest records, fewer than a chunk, in memory. A part of the cache file
// that turns out damaged reads as no records and marks the data damaged:
// what is drawn from it is then dropped and the cache built again.
class TrendData {
public:
    // What the mapped chunks may take into memory before those used longest
    // ago are let go.
    static constexpr qint64 MappedBudget = qint64(48) << 20;

    explicit TrendData(const ChunkGeometry &geometry = ChunkGeometry());
    ~TrendData();
    TrendData(const TrendData &) = delete;
    TrendData &operator=(const TrendData &) = delete;

    const ChunkGeometry &geometry() const { return m_geometry; }
    qint64 size() const;
    bool isEmpty() const { return size() == 0; }
    qint64 moment(qint64 index) const;
    float value(int sensor, qint64 index) const;
    qint64 rowid(qint64 index) const;
    // The index of the first record at or after moment; size() when none.
    qint64 lowerBound(double moment) const;

    // Level 0 is a record, 1 and up blocks inside a chunk, topLevel() the
    // chunks.
    int topLevel() const { return m_geometry.topLevel(); }
    qint64 blockRecords(int level) const { return m_geometry.blockRecords(level); }
    qint64 blockCount(int level) const;
    BlockSummary block(int level, qint64 index) const;
    // The blocks [first, end) one level down that make up a block.
    std::pair<qint64, qint64> children(int level, qint64 index) const;

    // Whether a damaged part of the cache file was met.
    bool damaged() const { return m_damaged; }

    void clear();
    // Takes a full chunk of the cache file after the chunks there are.
    void addChunk(std::shared_ptr<CacheFile> file, const CacheChunkEntry &entry);
    // Takes a full chunk the cache file could not.
    void addChunk(MemoryChunk chunk);
    // The newest records, after the chunks; kept up to date by their owner.
    void setTail(const MemoryChunk *tail) { m_tail = tail; }
    qint64 chunkCount() const { return qint64(m_chunks.size()); }

    // Ends a view: while the mapped chunks took more than MappedBudget into
    // memory, what no view read for longest is let go, down to half of it;
    // never what this view read.
    void releaseUnused() const;
    qint64 mappedBytes() const;

private:
    struct Chunk;
    // Bytes of a chunk's section (the tail's at chunkCount()); nullptr when
    // outside it or damaged.
    const char *at(qint64 chunk, int section, qint64 offset, qint64 length) const;
    qint64 runCount(qint64 chunk) const;
    BlockSummary chunkSummary(qint64 chunk) const;

    ChunkGeometry m_geometry;
    std::vector<std::unique_ptr<Chunk>> m_chunks;
    const MemoryChunk *m_tail = nullptr;
    mutable bool m_damaged = false;
    mutable quint64 m_view = 1; // views drawn so far, to tell chunks used long ago
};

} // namespace qf
