#include "trend/trendplotdata.h"

#include <algorithm>
#include <cmath>

namespace qf {

namespace {

constexpr double SingleMomentMargin = 30; // seconds either side of one moment
constexpr double Nan = std::numeric_limits<double>::quiet_NaN();

// The pixel columns of [from, to]: -1 before, count after.
struct Columns {
    double from = 0;
    double to = 0;
    double width = 0;
    int count = 0;

    int of(double moment) const
    {
        if (moment < from)
            return -1;
        if (moment > to)
            return count;
        return std::min(count - 1, int((moment - from) / width));
    }
};

struct Column {
    bool taken = false;
    std::array<Envelope, SensorCount> envelopes;

    void add(const BlockSummary &block)
    {
        taken = true;
        for (int s = 0; s < SensorCount; ++s)
            envelopes[std::size_t(s)].add(block.envelope(s));
    }
};

// Puts a block into the column that holds it, or its smaller blocks into
// theirs.
void collect(const TrendData &data, const Columns &columns, int level, qint64 index,
             std::vector<Column> &taken)
{
    const BlockSummary block = data.block(level, index);
    const double first = double(block.first), last = double(block.last);
    const int firstColumn = columns.of(first), lastColumn = columns.of(last);
    if (lastColumn < 0 || firstColumn >= columns.count)
        return;
    if (firstColumn == lastColumn) {
        taken[std::size_t(firstColumn)].add(block);
        return;
    }
    if (firstColumn >= 0 && lastColumn < columns.count && last - first <= columns.width * WholeBlockShare) {
        taken[std::size_t(columns.of(first + (last - first) / 2))].add(block);
        return;
    }
    const auto [from, end] = data.children(level, index);
    for (qint64 child = from; child < end; ++child)
        collect(data, columns, level - 1, child, taken);
}

void addRecord(PlotPoints &points, const TrendData &data, qint64 index)
{
    points.keys.push_back(double(data.moment(index)));
    for (int s = 0; s < SensorCount; ++s)
        points.values[std::size_t(s)].push_back(double(data.value(s, index)));
}

// Runs of values between gaps that stand on one key and one value draw no
// line: they become dots.
void findDots(PlotPoints &points)
{
    const std::size_t n = points.keys.size();
    for (int s = 0; s < SensorCount; ++s) {
        const auto &values = points.values[std::size_t(s)];
        for (std::size_t start = 0; start < n;) {
            if (std::isnan(values[start])) {
                ++start;
                continue;
            }
            std::size_t end = start + 1;
            bool single = true;
            for (; end < n && !std::isnan(values[end]); ++end)
                single = single && points.keys[end] == points.keys[start] && values[end] == values[start];
            if (single)
                points.dots[std::size_t(s)].emplace_back(points.keys[start], values[start]);
            start = end;
        }
    }
}

} // namespace

PlotPoints plotPoints(const TrendData &data, double from, double to, int columns)
{
    PlotPoints points;
    if (data.isEmpty() || columns <= 0 || !(to > from))
        return points;
    const qint64 first = data.lowerBound(from);
    const qint64 end = data.lowerBound(std::floor(to) + 1);
    const qint64 before = std::max<qint64>(first - 1, 0);
    const qint64 after = std::min(end + 1, data.size());
    if (end - first <= columns) {
        for (qint64 i = before; i < after; ++i)
            addRecord(points, data, i);
        findDots(points);
        return points;
    }
    points.envelope = true;
    if (before < first)
        addRecord(points, data, before);
    const Columns range{from, to, (to - from) / columns, columns};
    std::vector<Column> taken(static_cast<std::size_t>(columns));
    for (qint64 chunk = 0; chunk < data.blockCount(data.topLevel()); ++chunk)
        collect(data, range, data.topLevel(), chunk, taken);
    for (int c = 0; c < columns; ++c) {
        const Column &column = taken[std::size_t(c)];
        if (!column.taken)
            continue;
        const double key = from + (c + 0.5) * range.width;
        points.keys.push_back(key);
        points.keys.push_back(key);
        for (int s = 0; s < SensorCount; ++s) {
            const Envelope &e = column.envelopes[std::size_t(s)];
            points.values[std::size_t(s)].push_back(e.empty() ? Nan : double(e.low));
            points.values[std::size_t(s)].push_back(e.empty() ? Nan : double(e.high));
        }
    }
    if (end < after)
        addRecord(points, data, end);
    findDots(points);
    return points;
}

std::pair<double, double> wholeRange(const TrendData &data)
{
    if (data.isEmpty())
        return {0, 1};
    const double first = double(data.moment(0));
    const double last = double(data.moment(data.size() - 1));
    if (last > first)
        return {first, last};
    return {first - SingleMomentMargin, last + SingleMomentMargin};
}

qint64 nearestRecord(const TrendData &data, double moment)
{
    if (data.isEmpty())
        return -1;
    const qint64 after = std::min(data.lowerBound(moment), data.size() - 1);
    if (after == 0)
        return 0;
    const double gapAfter = std::abs(double(data.moment(after)) - moment);
    const double gapBefore = std::abs(moment - double(data.moment(after - 1)));
    return gapBefore <= gapAfter ? after - 1 : after;
}

} // namespace qf
