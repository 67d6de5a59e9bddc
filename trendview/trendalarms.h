#pragma once

#include "trendview/alarmwatch.h"
#include "trendview/trendplot.h"

#include <QObject>
#include <QStringList>

class QMainWindow;

namespace qf {

class AlarmSummary;

// The station's alarms in the trend viewer's window: quillfern.ini and the
// alarm journal beside the store followed (AlarmWatch), drawn on the plot
// (AlarmOverlay), the alarm summary in a dock below the plot, the newest
// alarm waiting for its acknowledgement in the status bar, and the menu
// "Alarms" with "Alarm limits…" and the summary's switch.
class TrendAlarms : public QObject {
    Q_OBJECT

public:
    TrendAlarms(QMainWindow &window, TrendPlot &plot, const QString &storePath);

    // A record's four values (as stored) with their sensors' names and
    // units: "Boiler 31.5 °C   Sensor2 20 °C ...".
    QString valuesText(const QStringList &values) const;

private:
    void editLimits();

    QMainWindow &m_window;
    AlarmWatch m_watch;
    AlarmSummary *m_summary = nullptr;
};

} // namespace qf
