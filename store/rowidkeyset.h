#pragma once

#include <QtGlobal>

#include <map>
#include <variant>
#include <vector>

namespace qf {

// The rowids of a record set by position, without one entry per record.
//
// Records are kept as segments: runs of positions that map to rowids. A dense
// segment maps position p to firstRowid + p - position and costs nothing per
// record. The records a table held when the set was opened form one segment,
// which is sparse when the table has gaps; its rowids are found by walking
// the table from the nearest known checkpoint, and the walk's end is
// remembered as a new checkpoint. Records appended later extend the last
// dense segment while their rowids follow on, and start a new one otherwise.
class RowidKeyset {
public:
    struct Segment {
        qint64 position = 0;
        qint64 firstRowid = 0;
        qint64 lastRowid = 0;
        qint64 count = 0;
        bool dense = true;
        bool operator==(const Segment &) const = default;
    };
    // How to find a rowid of a sparse segment: the one `steps` rows after
    // (forward) or before rowid `from`, in rowid order, not counting `from`.
    struct Walk {
        qint64 from = 0;
        qint64 steps = 0;
        bool forward = true;
        bool operator==(const Walk &) const = default;
    };
    // Most checkpoints kept; past this they start anew from the two ends.
    static constexpr std::size_t MaxCheckpoints = 1 << 16;

    // The count records of a table whose rowids run from firstRowid to
    // lastRowid.
    RowidKeyset(qint64 count = 0, qint64 firstRowid = 0, qint64 lastRowid = 0);

    qint64 count() const;
    const std::vector<Segment> &segments() const { return m_segments; }
    // The segment holding position, or null outside the set.
    const Segment *segmentAt(qint64 position) const;
    // The rowid at offset in segment, or the walk that finds it.
    std::variant<qint64, Walk> locate(const Segment &segment, qint64 offset) const;
    // A walk found the rowid at offset of the sparse segment.
    void remember(qint64 offset, qint64 rowid);
    std::size_t checkpointCount() const { return m_checkpoints.size(); }

    void append(qint64 rowid);

private:
    std::vector<Segment> m_segments;
    std::map<qint64, qint64> m_checkpoints; // offset in the sparse segment -> rowid
};

} // namespace qf
