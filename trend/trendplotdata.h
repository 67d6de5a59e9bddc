#pragma once

#include "trend/trenddata.h"

#include <array>
#include <utility>
#include <vector>

// The points that draw the records between two moments on a plot so many
// pixel columns wide. Where a column stands for more than one record it gets
// two points at its middle, the lowest and the highest value of its records,
// so a single spike shows at any zoom; otherwise each record is a point of
// its own. A null value is a NaN point: a gap in the line. The records just
// outside the range are included so the lines run on to the edges.
struct PlotPoints {
    std::vector<double> keys; // seconds since the epoch
    std::array<std::vector<double>, SensorCount> values;
    bool envelope = false;
};

PlotPoints plotPoints(const TrendData &data, double from, double to, int columns);

// The moments that show the whole history: its first and its last record,
// widened when they are the same.
std::pair<double, double> wholeRange(const TrendData &data);

// The index of the record whose moment lies nearest to moment; -1 when there
// are none.
qsizetype nearestRecord(const TrendData &data, double moment);
