#include "trend/trenddata.h"

#include <algorithm>

void Envelope::add(float value)
{
    if (std::isnan(value))
        return;
    if (empty()) {
        low = high = value;
        return;
    }
    low = std::min(low, value);
    high = std::max(high, value);
}

void Envelope::add(const Envelope &other)
{
    if (other.empty())
        return;
    add(other.low);
    add(other.high);
}

void TrendData::clear()
{
    *this = TrendData();
}

void TrendData::append(qint64 rowid, qint64 moment, const SensorValues &values)
{
    if (m_moments.empty())
        m_base = moment;
    if (m_rowidRuns.empty() || this->rowid(size() - 1) + 1 != rowid)
        m_rowidRuns.push_back({size(), rowid});
    m_moments.push_back(qint32(moment - m_base));
    for (int s = 0; s < SensorCount; ++s)
        m_values[s].push_back(values[s]);
}

void TrendData::reserve(qsizetype count)
{
    const auto room = std::size_t(roomFor(count));
    if (m_moments.capacity() >= std::size_t(count))
        return;
    m_moments.reserve(room);
    for (auto &values : m_values)
        values.reserve(room);
}

qint64 TrendData::rowid(qsizetype index) const
{
    const auto run = std::upper_bound(m_rowidRuns.begin(), m_rowidRuns.end(), index,
                                      [](qsizetype i, const std::array<qint64, 2> &r) { return i < r[0]; });
    const auto &found = *(run - 1);
    return found[1] + (index - found[0]);
}

void TrendData::setColumns(Columns columns)
{
    clear();
    m_base = columns.base;
    m_moments = std::move(columns.moments);
    m_values = std::move(columns.values);
    m_rowidRuns = std::move(columns.rowidRuns);
    updateEnvelopes();
}

void TrendData::updateEnvelopes()
{
    for (int s = 0; s < SensorCount; ++s) {
        auto &levels = m_levels[s];
        qsizetype below = size(); // items at the level below
        qsizetype changedBelow = m_enveloped;
        for (int k = 0; below > 1; ++k) {
            if (qsizetype(levels.size()) <= k)
                levels.emplace_back();
            auto &blocks = levels[k];
            const qsizetype count = (below + BlockFactor - 1) / BlockFactor;
            const qsizetype firstChanged = changedBelow / BlockFactor;
            blocks.resize(std::size_t(count));
            for (qsizetype b = firstChanged; b < count; ++b) {
                Envelope e;
                const qsizetype end = std::min(below, (b + 1) * BlockFactor);
                for (qsizetype i = b * BlockFactor; i < end; ++i) {
                    if (k == 0)
                        e.add(m_values[s][std::size_t(i)]);
                    else
                        e.add(levels[k - 1][std::size_t(i)]);
                }
                blocks[std::size_t(b)] = e;
            }
            below = count;
            changedBelow = firstChanged;
        }
    }
    m_enveloped = size();
}

qsizetype TrendData::lowerBound(double moment) const
{
    const double offset = std::ceil(moment - double(m_base));
    if (offset <= double(std::numeric_limits<qint32>::min()))
        return 0;
    if (offset > double(std::numeric_limits<qint32>::max()))
        return size();
    return std::lower_bound(m_moments.begin(), m_moments.end(), qint32(offset)) - m_moments.begin();
}

Envelope TrendData::scan(int sensor, int level, qsizetype from, qsizetype to) const
{
    Envelope e;
    for (qsizetype i = from; i < to; ++i) {
        if (level == 0)
            e.add(m_values[sensor][std::size_t(i)]);
        else
            e.add(m_levels[sensor][level - 1][std::size_t(i)]);
    }
    return e;
}

Envelope TrendData::envelope(int sensor, qsizetype from, qsizetype to) const
{
    from = std::max<qsizetype>(from, 0);
    to = std::min(to, m_enveloped);
    Envelope e;
    for (int level = 0; from < to; ++level) {
        const qsizetype up = (from + BlockFactor - 1) / BlockFactor * BlockFactor;
        const qsizetype down = to / BlockFactor * BlockFactor;
        if (level >= levelCount() || up >= down) {
            e.add(scan(sensor, level, from, to));
            break;
        }
        e.add(scan(sensor, level, from, up));
        e.add(scan(sensor, level, down, to));
        from = up / BlockFactor;
        to = down / BlockFactor;
    }
    return e;
}
