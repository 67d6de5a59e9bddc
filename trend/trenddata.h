#pragma once

#include "store/recordschema.h"

#include <QtGlobal>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

inline constexpr int SensorCount = qf::schema::SensorCount;
// A value the store keeps as null: a gap in the plot.
inline constexpr float NoValue = std::numeric_limits<float>::quiet_NaN();

using SensorValues = std::array<float, SensorCount>;

// The lowest and highest value of a run of records; both NoValue when the
// run holds no value.
struct Envelope {
    float low = NoValue;
    float high = NoValue;

    bool empty() const { return std::isnan(low); }
    void add(float value);
    void add(const Envelope &other);
    bool operator==(const Envelope &other) const
    {
        return empty() ? other.empty() : low == other.low && high == other.high;
    }
};

// The records of the log as the plot needs them, in record order: the moment
// each is plotted at, its four values and its rowid; and, per sensor, the
// envelope of every block of 32, 1024, 32768... records, so that the envelope
// of any run of records is found in a few steps.
class TrendData {
public:
    static constexpr qsizetype BlockFactor = 32;

    void clear();
    // Appends a record; moments never go back (StampClock makes them so).
    void append(qint64 rowid, qint64 moment, const SensorValues &values);
    // Makes room for count records in all and some more, so that neither a
    // long load nor the records that follow copy the columns (room not yet
    // written to takes no memory).
    void reserve(qsizetype count);
    static qsizetype roomFor(qsizetype count) { return count + count / 8 + BlockFactor * BlockFactor; }
    // Brings the block envelopes up to date with the records appended since
    // the last call.
    void updateEnvelopes();

    qsizetype size() const { return qsizetype(m_moments.size()); }
    bool isEmpty() const { return m_moments.empty(); }
    qint64 moment(qsizetype index) const { return m_base + m_moments[std::size_t(index)]; }
    float value(int sensor, qsizetype index) const { return m_values[sensor][std::size_t(index)]; }
    qint64 rowid(qsizetype index) const;
    // The index of the first record at or after moment.
    qsizetype lowerBound(double moment) const;
    // The envelope of the values of records [from, to) of one sensor.
    Envelope envelope(int sensor, qsizetype from, qsizetype to) const;
    // The envelope of one block at a level (1: blocks of 32 records...).
    const std::vector<Envelope> &level(int sensor, int level) const { return m_levels[sensor][level - 1]; }
    int levelCount() const { return int(m_levels[0].size()); }

    // The columns, for the cache file.
    struct Columns {
        qint64 base = 0;
        std::vector<qint32> moments;
        std::array<std::vector<float>, SensorCount> values;
        std::vector<std::array<qint64, 2>> rowidRuns; // first index, its rowid
    };
    void setColumns(Columns columns);
    const std::vector<qint32> &moments() const { return m_moments; }
    const std::vector<float> &values(int sensor) const { return m_values[sensor]; }
    const std::vector<std::array<qint64, 2>> &rowidRuns() const { return m_rowidRuns; }
    qint64 base() const { return m_base; }

private:
    Envelope scan(int sensor, int level, qsizetype from, qsizetype to) const;

    qint64 m_base = 0;
    std::vector<qint32> m_moments;
    std::array<std::vector<float>, SensorCount> m_values;
    std::vector<std::array<qint64, 2>> m_rowidRuns;
    std::array<std::vector<std::vector<Envelope>>, SensorCount> m_levels;
    qsizetype m_enveloped = 0; // records the levels cover
};
