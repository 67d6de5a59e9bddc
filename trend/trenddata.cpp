#include "trend/trenddata.h"

#include <algorithm>

namespace qf {

struct TrendData::Chunk {
    std::unique_ptr<MappedChunk> mapped;
    std::optional<MemoryChunk> memory;
    quint64 lastView = 0;
};

TrendData::TrendData(const ChunkGeometry &geometry) : m_geometry(geometry)
{
}

TrendData::~TrendData() = default;

qint64 TrendData::size() const
{
    return chunkCount() * m_geometry.records() + (m_tail ? m_tail->count() : 0);
}

void TrendData::clear()
{
    m_chunks.clear();
    m_damaged = false;
}

void TrendData::addChunk(std::shared_ptr<CacheFile> file, const CacheChunkEntry &entry)
{
    auto chunk = std::make_unique<Chunk>();
    chunk->mapped = std::make_unique<MappedChunk>(std::move(file), entry, m_geometry);
    m_chunks.push_back(std::move(chunk));
}

void TrendData::addChunk(MemoryChunk memory)
{
    auto chunk = std::make_unique<Chunk>();
    chunk->memory.emplace(std::move(memory));
    m_chunks.push_back(std::move(chunk));
}

const char *TrendData::section(qint64 chunk, int section) const
{
    if (chunk < 0 || chunk > chunkCount())
        return nullptr;
    if (chunk == chunkCount())
        return m_tail ? m_tail->section(section).data() : nullptr;
    Chunk &c = *m_chunks[std::size_t(chunk)];
    c.lastView = m_view;
    if (c.memory)
        return c.memory->section(section).data();
    const char *bytes = c.mapped->section(section);
    if (!bytes)
        m_damaged = true;
    return bytes;
}

qint64 TrendData::runCount(qint64 chunk) const
{
    if (chunk == chunkCount())
        return qint64(m_tail->runs().size());
    const Chunk &c = *m_chunks[std::size_t(chunk)];
    return c.memory ? qint64(c.memory->runs().size()) : qint64(c.mapped->entry().runs);
}

BlockSummary TrendData::chunkSummary(qint64 chunk) const
{
    if (chunk == chunkCount())
        return m_tail->summary();
    const Chunk &c = *m_chunks[std::size_t(chunk)];
    return c.memory ? c.memory->summary() : c.mapped->entry().summary;
}

qint64 TrendData::moment(qint64 index) const
{
    const qint64 chunk = index >> m_geometry.recordBits();
    const auto *moments = reinterpret_cast<const qint64 *>(section(chunk, ChunkGeometry::MomentSection));
    return moments ? moments[index & (m_geometry.records() - 1)] : 0;
}

float TrendData::value(int sensor, qint64 index) const
{
    const qint64 chunk = index >> m_geometry.recordBits();
    const auto *values = reinterpret_cast<const float *>(section(chunk, ChunkGeometry::valueSection(sensor)));
    return values ? values[index & (m_geometry.records() - 1)] : NoValue;
}

qint64 TrendData::rowid(qint64 index) const
{
    const qint64 chunk = index >> m_geometry.recordBits();
    const auto *runs = reinterpret_cast<const RowidRun *>(section(chunk, m_geometry.runSection()));
    return runs ? rowidAt(runs, runCount(chunk), index & (m_geometry.records() - 1)) : 0;
}

qint64 TrendData::blockCount(int level) const
{
    return (size() + blockRecords(level) - 1) / blockRecords(level);
}

BlockSummary TrendData::block(int level, qint64 index) const
{
    if (index < 0 || index >= blockCount(level))
        return {};
    if (level == 0) {
        SensorValues values;
        for (int s = 0; s < SensorCount; ++s)
            values[std::size_t(s)] = value(s, index);
        return BlockSummary::of(moment(index), values);
    }
    if (level == topLevel())
        return chunkSummary(index);
    const qint64 perChunk = m_geometry.records() / blockRecords(level);
    const auto *blocks =
        reinterpret_cast<const BlockSummary *>(section(index / perChunk, ChunkGeometry::levelSection(level)));
    return blocks ? blocks[index % perChunk] : BlockSummary{};
}

std::pair<qint64, qint64> TrendData::children(int level, qint64 index) const
{
    const qint64 factor = blockRecords(level) / blockRecords(level - 1);
    return {index * factor, std::min((index + 1) * factor, blockCount(level - 1))};
}

qint64 TrendData::lowerBound(double moment) const
{
    // Down from the chunks: in each block the first of its children whose
    // last record lies at or after moment (moments never go back).
    qint64 first = 0;
    qint64 end = blockCount(topLevel());
    for (int level = topLevel();; --level) {
        const qint64 rangeEnd = end;
        while (first < end) {
            const qint64 middle = first + (end - first) / 2;
            const qint64 last = level == 0 ? this->moment(middle) : block(level, middle).last;
            if (double(last) < moment)
                first = middle + 1;
            else
                end = middle;
        }
        if (level == 0)
            return first;
        if (first == rangeEnd)
            return size();
        std::tie(first, end) = children(level, first);
    }
}

qint64 TrendData::mappedBytes() const
{
    qint64 bytes = 0;
    for (const auto &chunk : m_chunks) {
        if (chunk->mapped)
            bytes += chunk->mapped->checkedBytes();
    }
    return bytes;
}

void TrendData::releaseUnused() const
{
    const quint64 view = m_view++;
    qint64 bytes = mappedBytes();
    if (bytes <= MappedBudget)
        return;
    std::vector<Chunk *> unused;
    for (const auto &chunk : m_chunks) {
        if (chunk->mapped && chunk->mapped->checkedBytes() > 0 && chunk->lastView < view)
            unused.push_back(chunk.get());
    }
    std::sort(unused.begin(), unused.end(),
              [](const Chunk *a, const Chunk *b) { return a->lastView < b->lastView; });
    for (Chunk *chunk : unused) {
        if (bytes <= MappedBudget / 2)
            break;
        bytes -= chunk->mapped->checkedBytes();
        chunk->mapped->release();
    }
}

} // namespace qf
