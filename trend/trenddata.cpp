#include "trend/trenddata.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace qf {

struct TrendData::Chunk {
    std::unique_ptr<MappedChunk> mapped;
    std::optional<MemoryChunk> memory;
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

const char *TrendData::at(qint64 chunk, int section, qint64 offset, qint64 length) const
{
    const auto within = [&](std::span<const char> bytes) {
        return offset >= 0 && offset + length <= qint64(bytes.size()) ? bytes.data() + offset : nullptr;
    };
    if (chunk < 0 || chunk > chunkCount())
        return nullptr;
    if (chunk == chunkCount())
        return m_tail ? within(m_tail->section(section)) : nullptr;
    Chunk &c = *m_chunks[std::size_t(chunk)];
    if (c.memory)
        return within(c.memory->section(section));
    const char *bytes = section == m_geometry.runSection() ? within(c.mapped->section(section))
                                                           : c.mapped->bytes(section, offset, length);
    if (!bytes)
        m_damaged = true;
    return bytes;
}

qint64 TrendData::runCount(qint64 chunk) const
{
    if (chunk == chunkCount())
        return m_tail ? qint64(m_tail->runs().size()) : 0;
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
    const qint64 i = index & (m_geometry.records() - 1);
    const char *bytes = at(index >> m_geometry.recordBits(), ChunkGeometry::MomentSection, i * 8, 8);
    return bytes ? qFromUnaligned<qint64>(bytes) : 0;
}

float TrendData::value(int sensor, qint64 index) const
{
    const qint64 i = index & (m_geometry.records() - 1);
    const char *bytes = at(index >> m_geometry.recordBits(), ChunkGeometry::valueSection(sensor), i * 4, 4);
    return bytes ? qFromUnaligned<float>(bytes) : NoValue;
}

qint64 TrendData::rowid(qint64 index) const
{
    const qint64 chunk = index >> m_geometry.recordBits();
    const qint64 runs = chunk >= 0 && chunk <= chunkCount() ? runCount(chunk) : 0;
    const auto *bytes = at(chunk, m_geometry.runSection(), 0, runs * qint64(sizeof(RowidRun)));
    return bytes
               ? rowidAt(reinterpret_cast<const RowidRun *>(bytes), runs, index & (m_geometry.records() - 1))
               : 0;
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
    constexpr qint64 Bytes = sizeof(BlockSummary);
    const char *bytes =
        at(index / perChunk, ChunkGeometry::levelSection(level), index % perChunk * Bytes, Bytes);
    BlockSummary block;
    if (bytes)
        std::memcpy(&block, bytes, sizeof(block));
    return block;
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
            bytes += chunk->mapped->residentBytes();
    }
    return bytes;
}

void TrendData::releaseUnused() const
{
    const quint64 view = m_view++;
    const qint64 bytes = mappedBytes();
    if (bytes <= MappedBudget)
        return;
    // Down to half the budget, the windows read longest ago first; never
    // those of this view.
    std::vector<quint64> views;
    for (const auto &chunk : m_chunks) {
        if (chunk->mapped)
            chunk->mapped->residentViews(views);
    }
    std::sort(views.begin(), views.end());
    const auto excess = std::size_t((bytes - MappedBudget / 2) / MappedChunk::WindowBytes);
    const quint64 before = std::min(view, views[std::min(excess, views.size() - 1)] + 1);
    for (const auto &chunk : m_chunks) {
        if (chunk->mapped)
            chunk->mapped->releaseBefore(before);
    }
}

} // namespace qf
