#include "trendview/alarmoverlay.h"

#include "trendview/alarmsummary.h"

#include <QDateTime>

#include <algorithm>
#include <map>

namespace qf {

namespace {

const QString SpanLayer = QStringLiteral("alarmSpans");
constexpr int ShadeAlpha = 80;
const QColor SilentShade(0x80, 0x80, 0x80, ShadeAlpha);
constexpr double LimitMargin = 0.05; // of the value range, beyond the outermost limit
// Of the plot's width, where a limit's mark ends: HH and LL further in, so
// that their marks stand beside those of H and L when the limits lie close.
constexpr double LabelEdge = 0.995;
constexpr double OuterLabelEdge = 0.975;
constexpr double MsPerSecond = 1000;

double plotMoment(RealTime time)
{
    return double(time.time_since_epoch().count()) / MsPerSecond;
}

double plotNow()
{
    return double(QDateTime::currentMSecsSinceEpoch()) / MsPerSecond;
}

} // namespace

AlarmOverlay::AlarmOverlay(TrendPlot &plot, const AlarmWatch &watch)
    : QObject(&plot), m_plot(plot), m_watch(watch)
{
    m_plot.addLayer(SpanLayer, m_plot.layer(QStringLiteral("main")), QCustomPlot::limBelow);
    m_spanLayer = m_plot.layer(SpanLayer);
    for (QCPAxisRect *rect : m_plot.axisRects()) {
        QCPAxis *values = rect->axis(QCPAxis::atLeft);
        connect(values, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), this,
                [this, values] { takeInLimits(values); });
    }
    // The shades depend on the time shown and the plot's width: they are
    // made again when either changed, once laid out, before anything is
    // drawn (also into a picture, which does not replot).
    connect(&m_plot, &QCustomPlot::afterLayout, this, [this] {
        const QCPAxis *time = graph(schema::SensorCount)->keyAxis();
        if (m_spansStale || time->range() != m_spansRange || time->axisRect()->width() != m_spansWidth)
            showSpans();
    });
    connect(&m_plot, &QCustomPlot::beforeReplot, this, &AlarmOverlay::followVisibility);
    connect(&watch, &AlarmWatch::limitsChanged, this, [this] {
        showNames();
        showLimits();
        m_spansStale = true;
        m_plot.replot(QCustomPlot::rpQueuedReplot);
    });
    connect(&watch, &AlarmWatch::alarmsChanged, this, [this] {
        m_spansStale = true;
        m_plot.replot(QCustomPlot::rpQueuedReplot);
    });
    showNames();
    showLimits();
}

void AlarmOverlay::showNames()
{
    const AlarmLimits &limits = m_watch.limits();
    // Each value axis: its sensors' names, with the unit once when they share it.
    std::map<QCPAxis *, std::vector<int>> sensorsOf;
    for (int sensor = 1; sensor <= schema::SensorCount; ++sensor) {
        const SensorLimits &named = limits.sensor(sensor);
        graph(sensor)->setName(named.unit.isEmpty() ? named.name
                                                    : QStringLiteral("%1 (%2)").arg(named.name, named.unit));
        sensorsOf[graph(sensor)->valueAxis()].push_back(sensor);
    }
    for (const auto &[axis, sensors] : sensorsOf) {
        const QString &unit = limits.sensor(sensors.front()).unit;
        const bool oneUnit = std::all_of(sensors.begin(), sensors.end(),
                                         [&](int sensor) { return limits.sensor(sensor).unit == unit; });
        QStringList names;
        for (const int sensor : sensors)
            names += oneUnit ? limits.sensor(sensor).name : graph(sensor)->name();
        const QString label = names.join(QStringLiteral(", "));
        axis->setLabel(oneUnit && !unit.isEmpty() ? QStringLiteral("%1 (%2)").arg(label, unit) : label);
    }
}

void AlarmOverlay::showLimits()
{
    for (auto &items : m_limitItems) {
        for (QCPAbstractItem *item : items)
            m_plot.removeItem(item);
        items.clear();
    }
    for (int sensor = 1; sensor <= schema::SensorCount; ++sensor) {
        QCPGraph *line = graph(sensor);
        QCPAxisRect *rect = line->keyAxis()->axisRect();
        const QColor color = line->pen().color();
        for (const AlarmKind kind : SensorAlarmKinds) {
            const std::optional<double> limit = m_watch.limits().sensor(sensor).limit(kind);
            if (!limit)
                continue;
            const bool outer = kind == AlarmKind::HighHigh || kind == AlarmKind::LowLow;
            auto *across = new QCPItemStraightLine(&m_plot);
            across->setPen(QPen(color, 1, outer ? Qt::SolidLine : Qt::DashLine));
            across->setClipAxisRect(rect);
            for (QCPItemPosition *point : {across->point1, across->point2})
                point->setAxes(line->keyAxis(), line->valueAxis());
            across->point1->setCoords(0, *limit);
            across->point2->setCoords(1, *limit);
            auto *mark = new QCPItemText(&m_plot);
            mark->setClipAxisRect(rect);
            mark->position->setAxes(line->keyAxis(), line->valueAxis());
            mark->position->setAxisRect(rect);
            mark->position->setTypeX(QCPItemPosition::ptAxisRectRatio);
            mark->position->setCoords(outer ? OuterLabelEdge : LabelEdge, *limit);
            mark->setPositionAlignment(Qt::AlignRight | (isHighAlarm(kind) ? Qt::AlignBottom : Qt::AlignTop));
            mark->setColor(color);
            mark->setText(alarmKindText(kind));
            m_limitItems[std::size_t(sensor - 1)].push_back(across);
            m_limitItems[std::size_t(sensor - 1)].push_back(mark);
        }
    }
    for (QCPAxisRect *rect : m_plot.axisRects())
        takeInLimits(rect->axis(QCPAxis::atLeft));
}

void AlarmOverlay::takeInLimits(QCPAxis *values)
{
    std::optional<double> lowest, highest;
    for (int sensor = 1; sensor <= schema::SensorCount; ++sensor) {
        if (graph(sensor)->valueAxis() != values || !graph(sensor)->visible())
            continue;
        for (const AlarmKind kind : SensorAlarmKinds) {
            if (const std::optional<double> limit = m_watch.limits().sensor(sensor).limit(kind)) {
                lowest = std::min(lowest.value_or(*limit), *limit);
                highest = std::max(highest.value_or(*limit), *limit);
            }
        }
    }
    if (!lowest)
        return;
    // Only outward, so that a range that holds the limits stays as it is.
    const QCPRange range = values->range();
    const double margin = (std::max(range.upper, *highest) - std::min(range.lower, *lowest)) * LimitMargin;
    const QCPRange wide(*lowest < range.lower ? *lowest - margin : range.lower,
                        *highest > range.upper ? *highest + margin : range.upper);
    if (wide != range)
        values->setRange(wide);
}

void AlarmOverlay::showSpans()
{
    for (const auto &[sensor, item] : m_spanItems)
        m_plot.removeItem(item);
    m_spanItems.clear();
    const QCPRange shown = graph(schema::SensorCount)->keyAxis()->range();
    m_spansRange = shown;
    m_spansWidth = graph(schema::SensorCount)->keyAxis()->axisRect()->width();
    m_spansStale = false;
    const int columns = std::max(1, m_spansWidth);
    const double columnSpan = shown.size() / columns;
    const double now = plotNow();
    const AlarmLimits &limits = m_watch.limits();
    // One shade per alarm and run of spans less than a pixel column apart.
    std::array<std::optional<QCPRange>, AlarmCount> pending{};
    const auto shade = [&](AlarmId alarm, const QCPRange &span) {
        const bool station = alarm.kind == AlarmKind::Silent;
        const std::optional<double> limit = limits.limit(alarm);
        const int first = station ? 1 : alarm.sensor;
        const int last = station ? schema::SensorCount : alarm.sensor;
        for (int sensor = first; sensor <= last; ++sensor) {
            if (station && sensor > first && graph(sensor)->valueAxis() == graph(sensor - 1)->valueAxis())
                continue; // one shade per plot
            QCPGraph *line = graph(sensor);
            auto *rect = new QCPItemRect(&m_plot);
            rect->setLayer(m_spanLayer);
            rect->setClipAxisRect(line->keyAxis()->axisRect());
            const QColor color = station ? SilentShade : priorityColor(limits.priority(alarm));
            rect->setBrush(QColor(color.red(), color.green(), color.blue(), ShadeAlpha));
            rect->setPen(Qt::NoPen);
            for (QCPItemPosition *corner : {rect->topLeft, rect->bottomRight}) {
                corner->setAxes(line->keyAxis(), line->valueAxis());
                corner->setAxisRect(line->keyAxis()->axisRect());
                corner->setTypeY(QCPItemPosition::ptAxisRectRatio);
            }
            // Beyond the limit: above a high one, below a low one.
            rect->topLeft->setCoords(span.lower, 0);
            rect->bottomRight->setCoords(span.upper, 1);
            if (limit) {
                QCPItemPosition *atLimit = isHighAlarm(alarm.kind) ? rect->bottomRight : rect->topLeft;
                atLimit->setTypeY(QCPItemPosition::ptPlotCoords);
                atLimit->setCoords(atLimit->coords().x(), *limit);
            }
            m_spanItems.emplace_back(station ? 0 : sensor, rect);
        }
    };
    for (const AlarmSpan &span : m_watch.spans()) {
        const QCPRange at(plotMoment(span.from), span.to ? plotMoment(*span.to) : now);
        if (at.upper < shown.lower || at.lower > shown.upper)
            continue;
        std::optional<QCPRange> &run = pending[std::size_t(alarmIndex(span.alarm))];
        if (run && at.lower - run->upper < columnSpan) {
            run->upper = std::max(run->upper, at.upper);
            continue;
        }
        if (run)
            shade(span.alarm, *run);
        run = at;
    }
    for (int index = 0; index < AlarmCount; ++index) {
        if (pending[std::size_t(index)])
            shade(alarmAt(index), *pending[std::size_t(index)]);
    }
    followVisibility();
}

void AlarmOverlay::followVisibility()
{
    for (int sensor = 1; sensor <= schema::SensorCount; ++sensor) {
        for (QCPAbstractItem *item : m_limitItems[std::size_t(sensor - 1)])
            item->setVisible(graph(sensor)->visible());
    }
    for (const auto &[sensor, item] : m_spanItems)
        item->setVisible(sensor == 0 || graph(sensor)->visible());
}

} // namespace qf
