#include "trend/trendfeed.h"

#include "trend/trendcache.h"

namespace {

constexpr qsizetype LoadChunk = 65536;  // records per statement while loading
constexpr qsizetype PollLimit = 262144; // records read at most per poll

QByteArray zoneId()
{
    return QTimeZone::systemTimeZoneId();
}

} // namespace

TrendFeed::TrendFeed(const QString &storePath)
    : m_store(std::make_unique<TrendStore>(storePath)), m_cachePath(trendCachePath(storePath))
{
}

bool TrendFeed::load(const Progress &progress)
{
    const bool cached = loadCache();
    if (!cached)
        restart();
    m_data.reserve(m_data.size() +
                   qsizetype(std::max<qint64>(0, m_store->lastRowid() - (m_last ? m_last->rowid : 0))));
    readNew(std::numeric_limits<qsizetype>::max(), progress);
    return cached;
}

bool TrendFeed::loadCache()
{
    std::optional<TrendSnapshot> snapshot = readTrendCache(m_cachePath);
    if (!snapshot || snapshot->zone != zoneId() || snapshot->columns.moments.empty())
        return false;
    if (m_store->key(snapshot->first.rowid) != snapshot->first ||
        m_store->key(snapshot->last.rowid) != snapshot->last)
        return false;
    m_first = snapshot->first;
    m_last = snapshot->last;
    m_clock.resume(snapshot->clock);
    m_cached = qsizetype(snapshot->columns.moments.size());
    m_data.setColumns(std::move(snapshot->columns));
    return true;
}

void TrendFeed::restart()
{
    m_data.clear();
    m_unstamped.clear();
    m_clock.resume(std::nullopt);
    m_first.reset();
    m_last.reset();
    m_cached = -1;
}

bool TrendFeed::stillMatches()
{
    if (!m_last)
        return true;
    return m_store->key(m_first->rowid) == m_first && m_store->key(m_last->rowid) == m_last;
}

void TrendFeed::take(const StoredSample &sample)
{
    const std::optional<qint64> moment = m_clock.next(parseWallClock(sample.stamp));
    if (!moment) {
        m_unstamped.emplace_back(sample.rowid, sample.values);
        return;
    }
    for (const auto &[rowid, values] : m_unstamped)
        m_data.append(rowid, *moment, values);
    m_unstamped.clear();
    m_data.append(sample.rowid, *moment, sample.values);
}

qsizetype TrendFeed::readNew(qsizetype limit, const Progress &progress)
{
    const qint64 total = progress ? m_store->lastRowid() - (m_last ? m_last->rowid : 0) : 0;
    qsizetype read = 0;
    qint64 after = m_last ? m_last->rowid : 0;
    std::optional<qint64> lastRead;
    auto takeOne = [this, &lastRead](const StoredSample &sample) {
        take(sample);
        lastRead = sample.rowid;
    };
    while (read < limit) {
        const qsizetype n = m_store->readAfter(after, std::min(LoadChunk, limit - read), takeOne);
        read += n;
        if (n == 0 || !lastRead)
            break;
        after = *lastRead;
        if (progress)
            progress(read, total);
        if (n < LoadChunk)
            break;
    }
    if (lastRead) {
        m_last = m_store->key(*lastRead);
        if (!m_first)
            m_first = m_store->key(m_unstamped.empty() ? m_data.rowid(0) : m_unstamped.front().first);
    }
    m_data.updateEnvelopes();
    return read;
}

TrendFeed::Change TrendFeed::poll()
{
    if (!stillMatches()) {
        restart();
        readNew(PollLimit);
        return Change::Reset;
    }
    return readNew(PollLimit) > 0 ? Change::Appended : Change::None;
}

bool TrendFeed::saveCache()
{
    if (!m_first || !m_last || !m_unstamped.empty() || m_cached == m_data.size())
        return m_cached == m_data.size();
    const TrendSnapshot header{zoneId(), *m_first, *m_last, m_clock.last(), {}};
    if (!writeTrendCache(m_cachePath, m_data, header))
        return false;
    m_cached = m_data.size();
    return true;
}
