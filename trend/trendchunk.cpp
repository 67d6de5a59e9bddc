#include "trend/trendchunk.h"

#include <cstring>

namespace qf {

namespace {

qint64 alignUp(qint64 value, qint64 alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

template <typename T> std::span<const char> bytesOf(const std::vector<T> &column)
{
    return {reinterpret_cast<const char *>(column.data()), column.size() * sizeof(T)};
}

// Copies a section into a column; false when its size is not count items.
template <typename T> bool readColumn(std::span<const char> section, qint64 count, std::vector<T> &column)
{
    if (qint64(section.size()) != count * qint64(sizeof(T)))
        return false;
    column.resize(std::size_t(count));
    std::memcpy(column.data(), section.data(), section.size());
    return true;
}

} // namespace

ChunkGeometry::ChunkGeometry(int recordBits) : m_bits(validBits(recordBits) ? recordBits : DefaultRecordBits)
{
    m_levels = (m_bits - 1) / FactorBits;
    // The checksums, then the top levels: a view of the whole history reads
    // the start of each chunk only.
    std::vector<int> order;
    for (int level = m_levels; level >= 1; --level)
        order.push_back(levelSection(level));
    for (int section = MomentSection; section <= valueSection(SensorCount - 1); ++section)
        order.push_back(section);
    order.push_back(runSection());
    for (const int section : order) {
        m_sums[std::size_t(section)] = m_sumCount;
        m_sumCount += granules(sectionBytes(section, records(), records()));
    }
    qint64 offset = alignUp(m_sumCount * qint64(sizeof(quint64)), SectionAlignment);
    for (const int section : order) {
        m_offsets[std::size_t(section)] = offset;
        offset = alignUp(offset + sectionBytes(section, records(), 0), SectionAlignment);
    }
}

qint64 ChunkGeometry::sectionBytes(int section, qint64 count, qint64 runs) const
{
    if (section == MomentSection)
        return count * qint64(sizeof(qint64));
    if (section < valueSection(SensorCount))
        return count * qint64(sizeof(float));
    if (section == runSection())
        return runs * qint64(sizeof(RowidRun));
    return blocks(section - SensorCount, count) * qint64(sizeof(BlockSummary));
}

MemoryChunk::MemoryChunk(const ChunkGeometry &geometry) : m_geometry(geometry)
{
}

std::optional<MemoryChunk>
MemoryChunk::fromSections(const ChunkGeometry &geometry, qint64 count,
                          const std::array<std::span<const char>, ChunkGeometry::MaxSections> &sections)
{
    MemoryChunk chunk(geometry);
    if (count <= 0 || count > geometry.records() ||
        !readColumn(sections[ChunkGeometry::MomentSection], count, chunk.m_moments) ||
        !std::is_sorted(chunk.m_moments.begin(), chunk.m_moments.end()))
        return std::nullopt;
    for (int s = 0; s < SensorCount; ++s) {
        if (!readColumn(sections[std::size_t(ChunkGeometry::valueSection(s))], count,
                        chunk.m_values[std::size_t(s)]))
            return std::nullopt;
    }
    for (int level = 1; level <= geometry.levels(); ++level) {
        const auto &section = sections[std::size_t(ChunkGeometry::levelSection(level))];
        if (!readColumn(section, geometry.blocks(level, count), chunk.m_blocks[std::size_t(level - 1)]))
            return std::nullopt;
    }
    const auto &runs = sections[std::size_t(geometry.runSection())];
    if (runs.size() % sizeof(RowidRun) != 0 ||
        !readColumn(runs, qint64(runs.size() / sizeof(RowidRun)), chunk.m_runs) ||
        !validRuns(chunk.m_runs.data(), qint64(chunk.m_runs.size()), count))
        return std::nullopt;
    chunk.m_lastRowid = rowidAt(chunk.m_runs.data(), qint64(chunk.m_runs.size()), count - 1);
    chunk.m_summary = BlockSummary::of(chunk.m_moments.front(), NoValues);
    for (const BlockSummary &block : chunk.m_blocks[std::size_t(geometry.levels() - 1)])
        chunk.m_summary.extend(block);
    return chunk;
}

void MemoryChunk::clear()
{
    m_moments.clear();
    for (auto &values : m_values)
        values.clear();
    for (auto &blocks : m_blocks)
        blocks.clear();
    m_runs.clear();
    m_summary = {};
    m_lastRowid = 0;
}

void MemoryChunk::append(qint64 rowid, qint64 moment, const SensorValues &values)
{
    const qint64 index = count();
    if (index == 0) {
        // The first record of a chunk: room for all of them, so that no
        // column is copied while it fills (untouched room takes no memory).
        m_moments.reserve(std::size_t(m_geometry.records()));
        for (auto &column : m_values)
            column.reserve(std::size_t(m_geometry.records()));
    }
    if (m_runs.empty() || m_lastRowid == std::numeric_limits<qint64>::max() || m_lastRowid + 1 != rowid)
        m_runs.push_back({index, rowid});
    m_lastRowid = rowid;
    m_moments.push_back(moment);
    for (int s = 0; s < SensorCount; ++s)
        m_values[std::size_t(s)].push_back(values[std::size_t(s)]);
    const BlockSummary record = BlockSummary::of(moment, values);
    for (int level = 1; level <= m_geometry.levels(); ++level) {
        auto &blocks = m_blocks[std::size_t(level - 1)];
        if (index % m_geometry.blockRecords(level) == 0)
            blocks.push_back(record);
        else
            blocks.back().extend(record);
    }
    if (index == 0)
        m_summary = record;
    else
        m_summary.extend(record);
}

std::span<const char> MemoryChunk::section(int section) const
{
    if (section == ChunkGeometry::MomentSection)
        return bytesOf(m_moments);
    if (section == m_geometry.runSection())
        return bytesOf(m_runs);
    if (section < ChunkGeometry::valueSection(SensorCount))
        return bytesOf(m_values[std::size_t(section - 1)]);
    return bytesOf(m_blocks[std::size_t(section - SensorCount - 1)]);
}

qint64 rowidAt(const RowidRun *runs, qint64 runCount, qint64 index)
{
    const RowidRun *run = std::upper_bound(runs, runs + runCount, index,
                                           [](qint64 i, const RowidRun &r) { return i < r.index; });
    return run == runs ? 0 : (run - 1)->rowid + (index - (run - 1)->index);
}

bool validRuns(const RowidRun *runs, qint64 runCount, qint64 count)
{
    if (runCount < 1 || runCount > count || runs[0].index != 0)
        return false;
    for (qint64 r = 0; r < runCount; ++r) {
        const qint64 end = r + 1 < runCount ? runs[r + 1].index : count;
        if (end <= runs[r].index || end > count ||
            runs[r].rowid > std::numeric_limits<qint64>::max() - (end - 1 - runs[r].index))
            return false;
    }
    return true;
}

} // namespace qf
