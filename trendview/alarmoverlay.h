#pragma once

#include "trendview/alarmwatch.h"
#include "trendview/trendplot.h"

#include <QObject>

#include <array>
#include <vector>

namespace qf {

// The alarms drawn on the trend plot: the sensors named as quillfern.ini
// says (legend and value axes), each sensor's limits as lines across its
// plot in the sensor's colour (HH and LL solid, H and L dashed, each marked
// at the right edge), and where an alarm was active a shade in its
// priority's colour beyond its limit (the station's silence: across both
// plots). The value axes always take in the limits of the sensors shown.
class AlarmOverlay : public QObject {
    Q_OBJECT

public:
    AlarmOverlay(TrendPlot &plot, const AlarmWatch &watch);

private:
    void showNames();
    void showLimits();
    void showSpans();
    // Widens a value axis to the limits of the sensors it shows.
    void takeInLimits(QCPAxis *values);
    // Limits and shades follow their sensor being hidden or shown.
    void followVisibility();
    QCPGraph *graph(int sensor) const { return m_plot.sensorGraph(sensor - 1); }

    TrendPlot &m_plot;
    const AlarmWatch &m_watch;
    QCPLayer *m_spanLayer = nullptr;
    std::array<std::vector<QCPAbstractItem *>, schema::SensorCount> m_limitItems{};
    std::vector<std::pair<int, QCPAbstractItem *>> m_spanItems; // with their sensor (0: station)
    // What the shades were made for.
    QCPRange m_spansRange;
    int m_spansWidth = 0;
    bool m_spansStale = true;
};

} // namespace qf
