#include "trend/trendplotdata.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double SingleMomentMargin = 30; // seconds either side of one moment
constexpr double Nan = std::numeric_limits<double>::quiet_NaN();

void addRecord(PlotPoints &points, const TrendData &data, qsizetype index)
{
    points.keys.push_back(double(data.moment(index)));
    for (int s = 0; s < SensorCount; ++s)
        points.values[s].push_back(double(data.value(s, index)));
}

void addColumn(PlotPoints &points, const TrendData &data, double key, qsizetype from, qsizetype to)
{
    points.keys.push_back(key);
    points.keys.push_back(key);
    for (int s = 0; s < SensorCount; ++s) {
        const Envelope e = data.envelope(s, from, to);
        points.values[s].push_back(e.empty() ? Nan : double(e.low));
        points.values[s].push_back(e.empty() ? Nan : double(e.high));
    }
}

} // namespace

PlotPoints plotPoints(const TrendData &data, double from, double to, int columns)
{
    PlotPoints points;
    if (data.isEmpty() || columns <= 0 || !(to > from))
        return points;
    const qsizetype first = data.lowerBound(from);
    const qsizetype end = data.lowerBound(std::floor(to) + 1);
    const qsizetype before = std::max<qsizetype>(first - 1, 0);
    const qsizetype after = std::min(end + 1, data.size());
    if (end - first <= columns) {
        for (qsizetype i = before; i < after; ++i)
            addRecord(points, data, i);
        return points;
    }
    points.envelope = true;
    if (before < first)
        addRecord(points, data, before);
    const double width = (to - from) / columns;
    qsizetype start = first;
    for (int c = 0; c < columns && start < end; ++c) {
        const qsizetype stop =
            c + 1 == columns ? end : std::min(end, data.lowerBound(from + (c + 1) * width));
        if (stop > start)
            addColumn(points, data, from + (c + 0.5) * width, start, stop);
        start = stop;
    }
    if (end < after)
        addRecord(points, data, end);
    return points;
}

std::pair<double, double> wholeRange(const TrendData &data)
{
    if (data.isEmpty()) {
        return {0, 1};
    }
    const double first = double(data.moment(0));
    const double last = double(data.moment(data.size() - 1));
    if (last > first)
        return {first, last};
    return {first - SingleMomentMargin, last + SingleMomentMargin};
}

qsizetype nearestRecord(const TrendData &data, double moment)
{
    if (data.isEmpty())
        return -1;
    const qsizetype after = std::min(data.lowerBound(moment), data.size() - 1);
    if (after == 0)
        return 0;
    const double gapAfter = std::abs(double(data.moment(after)) - moment);
    const double gapBefore = std::abs(moment - double(data.moment(after - 1)));
    return gapBefore <= gapAfter ? after - 1 : after;
}
