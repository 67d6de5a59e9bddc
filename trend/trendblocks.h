#pragma once

// The pieces the trend viewer's records are kept in: a record's four values,
// the envelope of a run of values, and the summary of a block of records
// that lets a plot draw millions of records from a few thousand numbers.

#include "store/recordschema.h"

#include <QtGlobal>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace qf {

inline constexpr int SensorCount = schema::SensorCount;
// A value the store keeps as null (or as text that is no number): a gap in
// the plot.
inline constexpr float NoValue = std::numeric_limits<float>::quiet_NaN();

using SensorValues = std::array<float, SensorCount>;

inline constexpr SensorValues NoValues = [] {
    SensorValues values{};
    values.fill(NoValue);
    return values;
}();

// The lowest and highest value of a run of records; both NoValue when the
// run holds no value.
struct Envelope {
    float low = NoValue;
    float high = NoValue;

    bool empty() const { return std::isnan(low); }
    void add(float value)
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
    void add(const Envelope &other)
    {
        if (!other.empty()) {
            add(other.low);
            add(other.high);
        }
    }
    bool operator==(const Envelope &other) const
    {
        return empty() ? other.empty() : low == other.low && high == other.high;
    }
};

// A block of consecutive records seen from afar: the moments of its first
// and its last record (seconds since the epoch) and, per sensor, the lowest
// and the highest value (NoValue when the block holds none). The cache file
// keeps these as they are in memory.
struct BlockSummary {
    qint64 first = 0;
    qint64 last = 0;
    SensorValues low = NoValues;
    SensorValues high = NoValues;

    static BlockSummary of(qint64 moment, const SensorValues &values)
    {
        return {moment, moment, values, values};
    }
    Envelope envelope(int sensor) const { return {low[sensor], high[sensor]}; }
    // Takes in the records of a block that follows this one.
    void extend(const BlockSummary &later)
    {
        last = later.last;
        for (int s = 0; s < SensorCount; ++s) {
            Envelope e = envelope(s);
            e.add(later.envelope(s));
            low[s] = e.low;
            high[s] = e.high;
        }
    }
    bool operator==(const BlockSummary &other) const
    {
        for (int s = 0; s < SensorCount; ++s) {
            if (!(envelope(s) == other.envelope(s)))
                return false;
        }
        return first == other.first && last == other.last;
    }
};
static_assert(sizeof(BlockSummary) == 2 * sizeof(qint64) + 2 * sizeof(SensorValues));

// Where the rowids of a chunk's records run on one by one: from the record
// at index (within the chunk) on, rowids count up from rowid.
struct RowidRun {
    qint64 index = 0;
    qint64 rowid = 0;
};

} // namespace qf
