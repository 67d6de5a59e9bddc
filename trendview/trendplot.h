#pragma once

#include "trend/trenddata.h"

#include <qcustomplot.h>

#include <array>

namespace qf {

// The plot of the four sensors against time: Sensor1 to Sensor3 (°C) on the
// upper plot, Sensor4 (vibration) on the lower one, both sharing one time
// axis. The wheel zooms the time axis around the pointer, dragging pans it,
// dragging with Shift held zooms to the band drawn; the legend hides and
// shows a sensor. Whatever the range, each pixel column draws the envelope
// of the records it stands for; a value no line reaches is a dot.
class TrendPlot : public QCustomPlot {
    Q_OBJECT

public:
    explicit TrendPlot(const TrendData &data, QWidget *parent = nullptr);

    // Shows every record, from the first to the newest.
    void showWholeHistory();
    // Shows [from, to] (seconds since the epoch).
    void showRange(double from, double to);
    // Takes in records appended or a store that started again; the view
    // follows the newest record when following is on.
    void dataChanged();
    void setFollow(bool follow);
    bool follow() const { return m_follow; }
    // The time range shown.
    QCPRange visibleRange() const;
    // The graph of a sensor (0 for Sensor1), on the axes of its plot.
    QCPGraph *sensorGraph(int index) const { return m_graphs[std::size_t(index)]; }
    // Draws the points of the range shown into the graphs (no repaint).
    void refresh();

signals:
    // The record nearest the pointer, -1 when there is none.
    void hovered(qint64 index);
    // Following turned on or off, by the operator's moves or setFollow.
    void followChanged(bool follow);
    // The records met a damaged cache file: nothing of them is drawn.
    void dataDamaged();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void setUpAxes(QCPAxisRect *rect, const QString &label);
    void setUpGraphs();
    void onRangeChanged(const QCPRange &range);
    void toggle(QCPAbstractLegendItem *item);
    double newest() const;
    void updateFollow();
    // Gathers the records of the range shown into the graphs, one envelope
    // per device pixel column of the plot as last laid out; false when they met a
    // damaged cache file (the graphs are then empty).
    bool gatherPoints();
    // Fits each plot's value axis to what its shown graphs hold.
    void fitValueRanges();
    // The device pixel columns the plot is wide (its width on a scaled
    // screen times the scale).
    int pixelColumns() const;
    // After a layout that changed the plot's width (its tick labels grew or
    // shrank): the records again into the columns the plot now has.
    void regatherIfWidthChanged();

    const TrendData &m_data;
    QCPAxisRect *m_lowerRect = nullptr;
    std::array<QCPGraph *, SensorCount> m_graphs{};
    std::array<QCPGraph *, SensorCount> m_dots{}; // values no line reaches
    bool m_follow = true;
    bool m_wholeHistory = true;
    bool m_moving = false;     // the range is being set by the plot itself
    int m_gatheredColumns = 0; // the device pixel columns the graphs were gathered into
};

} // namespace qf
