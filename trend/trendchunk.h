#pragma once

#include "trend/trendblocks.h"

#include <span>
#include <vector>

namespace qf {

// How the records are cut into chunks: every chunk but the newest holds the
// same number of records, a power of two. Inside a chunk the records are
// summed up in blocks of 32 records (level 1), of 32 such blocks (level 2)
// and so on below the chunk, which is the top level; level 0 is a record.
// In the cache file a chunk is a table of checksums, then a run of
// sections: the blocks of each level (the top levels first), the moments,
// one column of values per sensor and the rowid runs. Each section is
// checked in granules of 64 KB, so that reading a few records checks a few
// pages, not the chunk.
class ChunkGeometry {
public:
    static constexpr int FactorBits = 5; // 32 blocks to the block above
    static constexpr int MinRecordBits = 10;
    static constexpr int MaxRecordBits = 20;
    static constexpr int DefaultRecordBits = 18; // 262,144 records, 6.3 MB in the file
    static constexpr int MaxLevels = (MaxRecordBits - 1) / FactorBits;
    static constexpr int MaxSections = 2 + SensorCount + MaxLevels;
    static constexpr int MomentSection = 0;
    static constexpr qint64 SectionAlignment = 4096;
    static constexpr qint64 GranuleBytes = 65536;

    explicit ChunkGeometry(int recordBits = DefaultRecordBits);
    static bool validBits(qint64 bits) { return bits >= MinRecordBits && bits <= MaxRecordBits; }

    int recordBits() const { return m_bits; }
    qint64 records() const { return qint64(1) << m_bits; }
    int levels() const { return m_levels; }
    int topLevel() const { return m_levels + 1; }
    qint64 blockRecords(int level) const
    {
        return level > m_levels ? records() : qint64(1) << (FactorBits * level);
    }
    // The blocks of a level in a chunk of count records (the last one may
    // hold fewer).
    qint64 blocks(int level, qint64 count) const
    {
        return (count + blockRecords(level) - 1) / blockRecords(level);
    }

    int sectionCount() const { return 2 + SensorCount + m_levels; }
    static int valueSection(int sensor) { return 1 + sensor; }
    static int levelSection(int level) { return SensorCount + level; }
    int runSection() const { return 1 + SensorCount + m_levels; }
    qint64 sectionOffset(int section) const { return m_offsets[std::size_t(section)]; }
    // The bytes a section holds in a chunk of count records and runs rowid
    // runs.
    qint64 sectionBytes(int section, qint64 count, qint64 runs) const;
    // The bytes of a chunk in the file.
    qint64 extentBytes(qint64 runs) const
    {
        return sectionOffset(runSection()) + runs * qint64(sizeof(RowidRun));
    }

    // The checksums at the start of a chunk: one per granule of each
    // section, a section's first at sumIndex(section).
    qint64 sumCount() const { return m_sumCount; }
    qint64 sumIndex(int section) const { return m_sums[std::size_t(section)]; }
    static qint64 granules(qint64 bytes) { return (bytes + GranuleBytes - 1) / GranuleBytes; }

    bool operator==(const ChunkGeometry &other) const { return m_bits == other.m_bits; }

private:
    int m_bits = DefaultRecordBits;
    int m_levels = 0;
    std::array<qint64, MaxSections> m_offsets{};
    std::array<qint64, MaxSections> m_sums{};
    qint64 m_sumCount = 0;
};

// The records of one chunk in memory: the newest records while they are
// fewer than a chunk holds, or a chunk the cache file could not take. The
// summaries of every level follow each append.
class MemoryChunk {
public:
    explicit MemoryChunk(const ChunkGeometry &geometry);
    // A chunk from the sections of a cache file; nothing when they do not
    // hold count records with runs rowid runs in order.
    static std::optional<MemoryChunk>
    fromSections(const ChunkGeometry &geometry, qint64 count,
                 const std::array<std::span<const char>, ChunkGeometry::MaxSections> &sections);

    const ChunkGeometry &geometry() const { return m_geometry; }
    qint64 count() const { return qint64(m_moments.size()); }
    bool empty() const { return m_moments.empty(); }
    bool full() const { return count() == m_geometry.records(); }
    void clear();
    // Appends a record; moments never go back (StampClock makes them so).
    void append(qint64 rowid, qint64 moment, const SensorValues &values);

    // Of a chunk that is not empty.
    const BlockSummary &summary() const { return m_summary; }
    qint64 lastRowid() const { return m_lastRowid; }
    const qint64 *moments() const { return m_moments.data(); }
    const float *values(int sensor) const { return m_values[std::size_t(sensor)].data(); }
    const BlockSummary *blocks(int level) const { return m_blocks[std::size_t(level - 1)].data(); }
    const std::vector<RowidRun> &runs() const { return m_runs; }
    // The bytes of a section as the cache file keeps them.
    std::span<const char> section(int section) const;

private:
    ChunkGeometry m_geometry;
    std::vector<qint64> m_moments;
    std::array<std::vector<float>, SensorCount> m_values;
    std::array<std::vector<BlockSummary>, ChunkGeometry::MaxLevels> m_blocks;
    std::vector<RowidRun> m_runs;
    BlockSummary m_summary;
    qint64 m_lastRowid = 0;
};

// The rowid of the record at index in a chunk with these rowid runs.
qint64 rowidAt(const RowidRun *runs, qint64 runCount, qint64 index);
// Whether runs are rowid runs of a chunk of count records: the first at
// index 0, indexes rising, no rowid past the largest.
bool validRuns(const RowidRun *runs, qint64 runCount, qint64 count);

} // namespace qf
