#pragma once

#include "trend/trenddata.h"

#include <array>
#include <utility>
#include <vector>

namespace qf {

// The points that draw the records between two moments on a plot so many
// pixel columns wide. Where a column stands for more than one record it gets
// two points at its middle, the lowest and the highest value of its records,
// so a single spike shows at any zoom; otherwise each record is a point of
// its own. A null value is a NaN point: a gap in the line. The records just
// outside the range are included so the lines run on to the edges. A value
// no line reaches (a lone value between gaps, a single record) is also
// listed as a dot.
struct PlotPoints {
    std::vector<double> keys; // seconds since the epoch
    std::array<std::vector<double>, SensorCount> values;
    std::array<std::vector<std::pair<double, double>>, SensorCount> dots; // key, value
    bool envelope = false;
};

// A column takes a block of records whole when they span at most this share
// of it (they are then drawn at most that far from their own moments);
// otherwise the block's smaller blocks are taken one by one.
inline constexpr double WholeBlockShare = 1.0 / 8;

PlotPoints plotPoints(const TrendData &data, double from, double to, int columns);

// The moments that show the whole history: its first and its last record,
// widened when they are the same.
std::pair<double, double> wholeRange(const TrendData &data);

// The index of the record whose moment lies nearest to moment; -1 when there
// are none.
qint64 nearestRecord(const TrendData &data, double moment);

} // namespace qf
