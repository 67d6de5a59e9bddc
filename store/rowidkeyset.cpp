#include "store/rowidkeyset.h"

#include <algorithm>
#include <iterator>

namespace qf {

RowidKeyset::RowidKeyset(qint64 count, qint64 firstRowid, qint64 lastRowid)
{
    if (count <= 0)
        return;
    const bool dense = lastRowid - firstRowid + 1 == count;
    m_segments.push_back({0, firstRowid, lastRowid, count, dense});
    if (!dense) {
        m_checkpoints[0] = firstRowid;
        m_checkpoints[count - 1] = lastRowid;
    }
}

qint64 RowidKeyset::count() const
{
    return m_segments.empty() ? 0 : m_segments.back().position + m_segments.back().count;
}

const RowidKeyset::Segment *RowidKeyset::segmentAt(qint64 position) const
{
    auto it = std::upper_bound(m_segments.begin(), m_segments.end(), position,
                               [](qint64 p, const Segment &s) { return p < s.position; });
    if (it == m_segments.begin())
        return nullptr;
    --it;
    return position < it->position + it->count ? &*it : nullptr;
}

std::variant<qint64, RowidKeyset::Walk> RowidKeyset::locate(const Segment &segment, qint64 offset) const
{
    if (segment.dense)
        return segment.firstRowid + offset;
    // The sparse segment's two ends are always checkpoints.
    auto above = m_checkpoints.lower_bound(offset);
    if (above != m_checkpoints.end() && above->first == offset)
        return above->second;
    auto below = std::prev(above);
    if (above == m_checkpoints.end() || offset - below->first <= above->first - offset)
        return Walk{below->second, offset - below->first - 1, true};
    return Walk{above->second, above->first - offset - 1, false};
}

void RowidKeyset::remember(qint64 offset, qint64 rowid)
{
    if (m_checkpoints.size() >= MaxCheckpoints) {
        const auto first = *m_checkpoints.begin();
        const auto last = *m_checkpoints.rbegin();
        m_checkpoints = {first, last};
    }
    m_checkpoints[offset] = rowid;
}

void RowidKeyset::append(qint64 rowid)
{
    if (!m_segments.empty()) {
        Segment &last = m_segments.back();
        if (last.dense && rowid == last.lastRowid + 1) {
            last.lastRowid = rowid;
            ++last.count;
            return;
        }
    }
    m_segments.push_back({count(), rowid, rowid, 1, true});
}

} // namespace qf
