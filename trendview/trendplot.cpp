#include "trendview/trendplot.h"

#include "trend/trendplotdata.h"

namespace qf {

namespace {

const std::array<QColor, SensorCount> SensorColors{QColor(0xd6, 0x27, 0x28), QColor(0x1f, 0x77, 0xb4),
                                                   QColor(0x2c, 0xa0, 0x2c), QColor(0x94, 0x67, 0xbd)};
const QColor HiddenText(0xa0, 0xa0, 0xa0);
constexpr int LowerSensor = 3;  // Sensor4, the vibration, has the lower plot
constexpr int LowerStretch = 2; // upper plot : lower plot = 3 : 2
constexpr int UpperStretch = 3;
constexpr double FollowTolerance = 1; // seconds short of the newest record still counted as following
constexpr double ValueMargin = 0.05;  // of the value range, above and below
constexpr double EmptySpan = 3600;    // seconds shown while there are no records
constexpr double DotSize = 5;         // pixels across a lone value's dot

} // namespace

TrendPlot::TrendPlot(const TrendData &data, QWidget *parent) : QCustomPlot(parent), m_data(data)
{
    QCPAxisRect *upper = axisRect(0); // holds the legend
    m_lowerRect = new QCPAxisRect(this);
    plotLayout()->addElement(1, 0, m_lowerRect);
    plotLayout()->setRowStretchFactors({UpperStretch, LowerStretch});
    auto *margins = new QCPMarginGroup(this);
    upper->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
    m_lowerRect->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
    setUpAxes(upper, QStringLiteral("Sensor1–Sensor3 (°C)"));
    setUpAxes(m_lowerRect, QStringLiteral("Sensor4 (vibration)"));
    upper->axis(QCPAxis::atBottom)->setTickLabels(false);
    setUpGraphs();
    setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    connect(this, &QCustomPlot::afterLayout, this, &TrendPlot::regatherIfWidthChanged);
    connect(this, &QCustomPlot::legendClick, this,
            [this](QCPLegend *, QCPAbstractLegendItem *item, QMouseEvent *) { toggle(item); });
    showWholeHistory();
}

void TrendPlot::setUpAxes(QCPAxisRect *rect, const QString &label)
{
    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeFormat(QStringLiteral("yyyy-MM-dd\nHH:mm:ss"));
    QCPAxis *time = rect->axis(QCPAxis::atBottom);
    time->setTicker(ticker);
    rect->axis(QCPAxis::atLeft)->setLabel(label);
    rect->setRangeDrag(Qt::Horizontal);
    rect->setRangeZoom(Qt::Horizontal);
    connect(time, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), this, &TrendPlot::onRangeChanged);
}

void TrendPlot::setUpGraphs()
{
    QCPAxisRect *upper = axisRect(0);
    for (int s = 0; s < SensorCount; ++s) {
        QCPAxisRect *rect = s == LowerSensor ? m_lowerRect : upper;
        QCPGraph *graph = addGraph(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
        graph->setName(QStringLiteral("Sensor%1").arg(s + 1));
        graph->setPen(QPen(SensorColors[s]));
        graph->setAdaptiveSampling(false); // the envelope is ours
        m_graphs[s] = graph;
        QCPGraph *dots = addGraph(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
        dots->setPen(QPen(SensorColors[s]));
        dots->setLineStyle(QCPGraph::lsNone);
        dots->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, DotSize));
        dots->removeFromLegend();
        m_dots[s] = dots;
    }
    legend->setVisible(true);
    legend->setSelectableParts(QCPLegend::spItems);
    upper->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);
}

void TrendPlot::toggle(QCPAbstractLegendItem *item)
{
    auto *plItem = qobject_cast<QCPPlottableLegendItem *>(item);
    if (!plItem)
        return;
    QCPAbstractPlottable *graph = plItem->plottable();
    graph->setVisible(!graph->visible());
    for (int s = 0; s < SensorCount; ++s) {
        if (m_graphs[s] == graph)
            m_dots[s]->setVisible(graph->visible());
    }
    plItem->setTextColor(graph->visible() ? Qt::black : HiddenText);
    replot();
}

double TrendPlot::newest() const
{
    return m_data.isEmpty() ? 0 : double(m_data.moment(m_data.size() - 1));
}

QCPRange TrendPlot::visibleRange() const
{
    return m_lowerRect->axis(QCPAxis::atBottom)->range();
}

void TrendPlot::showRange(double from, double to)
{
    m_moving = true;
    for (QCPAxisRect *rect : axisRects())
        rect->axis(QCPAxis::atBottom)->setRange(from, to);
    m_moving = false;
    refresh();
}

void TrendPlot::showWholeHistory()
{
    m_wholeHistory = true;
    if (m_data.isEmpty()) { // no records (yet): the last hour, empty
        const double now = double(QDateTime::currentSecsSinceEpoch());
        showRange(now - EmptySpan, now);
    } else {
        const auto [from, to] = wholeRange(m_data);
        showRange(from, to);
    }
    updateFollow();
}

void TrendPlot::onRangeChanged(const QCPRange &range)
{
    if (m_moving)
        return;
    // The operator zoomed or panned one time axis: the other follows.
    m_wholeHistory = false;
    showRange(range.lower, range.upper);
    updateFollow();
}

void TrendPlot::updateFollow()
{
    const bool follow = m_data.isEmpty() || visibleRange().upper >= newest() - FollowTolerance;
    if (follow != m_follow) {
        m_follow = follow;
        emit followChanged(follow);
    }
}

void TrendPlot::setFollow(bool follow)
{
    if (follow == m_follow)
        return;
    m_follow = follow;
    emit followChanged(follow);
    if (follow)
        dataChanged();
}

void TrendPlot::dataChanged()
{
    if (m_data.isEmpty() || m_wholeHistory) {
        showWholeHistory();
    } else if (m_follow) {
        const double width = visibleRange().size();
        showRange(newest() - width * (1 - ValueMargin), newest() + width * ValueMargin);
    } else {
        refresh();
    }
    replot(rpQueuedReplot);
}

void TrendPlot::refresh()
{
    if (gatherPoints())
        fitValueRanges();
}

bool TrendPlot::gatherPoints()
{
    const QCPRange range = visibleRange();
    const int columns = pixelColumns();
    m_gatheredColumns = columns;
    const PlotPoints points = plotPoints(m_data, range.lower, range.upper, columns);
    m_data.releaseUnused();
    if (m_data.damaged()) {
        for (int s = 0; s < SensorCount; ++s) {
            m_graphs[s]->data()->clear();
            m_dots[s]->data()->clear();
        }
        emit dataDamaged();
        return false;
    }
    const QVector<double> keys(points.keys.begin(), points.keys.end());
    for (int s = 0; s < SensorCount; ++s) {
        // An envelope is a stroke per device pixel column: drawn crisp, it reads as a band.
        m_graphs[s]->setAntialiased(!points.envelope);
        m_graphs[s]->setData(keys, QVector<double>(points.values[s].begin(), points.values[s].end()), true);
        QVector<double> dotKeys, dotValues;
        for (const auto &[key, value] : points.dots[s]) {
            dotKeys.append(key);
            dotValues.append(value);
        }
        m_dots[s]->setData(dotKeys, dotValues, true);
    }
    return true;
}

void TrendPlot::fitValueRanges()
{
    const QCPRange range = visibleRange();
    for (QCPAxisRect *rect : axisRects()) {
        QCPAxis *values = rect->axis(QCPAxis::atLeft);
        bool found = false;
        QCPRange span;
        for (QCPGraph *graph : rect->graphs()) {
            bool has = false;
            const QCPRange r = graph->getValueRange(has, QCP::sdBoth, range);
            if (has && graph->visible())
                span = found ? QCPRange(std::min(span.lower, r.lower), std::max(span.upper, r.upper)) : r;
            found = found || (has && graph->visible());
        }
        if (found) {
            const double margin = std::max(span.size() * ValueMargin, 0.5);
            values->setRange(span.lower - margin, span.upper + margin);
        }
    }
}

void TrendPlot::regatherIfWidthChanged()
{
    // The value ranges stay: the same records give the same extremes.
    if (m_lowerRect->width() > 0 && pixelColumns() != m_gatheredColumns)
        gatherPoints();
}

int TrendPlot::pixelColumns() const
{
    // On a scaled screen a column of the plot is several device pixels wide;
    // one crisp stroke each would draw a band as stripes.
    const int logical = m_lowerRect->width() > 0 ? m_lowerRect->width() : width();
    return std::max(1, qRound(logical * devicePixelRatioF()));
}

void TrendPlot::resizeEvent(QResizeEvent *event)
{
    QCustomPlot::resizeEvent(event);
    refresh();
}

void TrendPlot::mousePressEvent(QMouseEvent *event)
{
    // Shift and drag: a band to zoom to; a plain drag pans.
    setSelectionRectMode(event->modifiers() & Qt::ShiftModifier ? QCP::srmZoom : QCP::srmNone);
    QCustomPlot::mousePressEvent(event);
}

void TrendPlot::mouseReleaseEvent(QMouseEvent *event)
{
    QCustomPlot::mouseReleaseEvent(event);
    setSelectionRectMode(QCP::srmNone);
}

void TrendPlot::mouseMoveEvent(QMouseEvent *event)
{
    QCustomPlot::mouseMoveEvent(event);
    const double moment = m_lowerRect->axis(QCPAxis::atBottom)->pixelToCoord(event->position().x());
    emit hovered(nearestRecord(m_data, moment));
}

} // namespace qf
