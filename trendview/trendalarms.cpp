#include "trendview/trendalarms.h"

#include "trendview/alarmoverlay.h"
#include "trendview/alarmsummary.h"
#include "trendview/limitsdialog.h"

#include <QDockWidget>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QStatusBar>

namespace qf {

namespace {

const QString ValueGap = QStringLiteral("   ");
constexpr int SummaryHeight = 190; // pixels: four rows and the buttons

} // namespace

TrendAlarms::TrendAlarms(QMainWindow &window, TrendPlot &plot, const QString &storePath)
    : QObject(&window), m_window(window), m_watch(storePath)
{
    new AlarmOverlay(plot, m_watch);
    m_summary = new AlarmSummary(m_watch);
    auto *dock = new QDockWidget(QStringLiteral("Alarms"), &window);
    dock->setObjectName(QStringLiteral("alarmSummary"));
    dock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
    dock->setAllowedAreas(Qt::TopDockWidgetArea | Qt::BottomDockWidgetArea);
    dock->setWidget(m_summary);
    window.addDockWidget(Qt::BottomDockWidgetArea, dock);
    window.resizeDocks({dock}, {SummaryHeight}, Qt::Vertical);
    window.statusBar()->insertPermanentWidget(0, m_summary->newestLabel());

    QMenu *menu = window.menuBar()->addMenu(QStringLiteral("&Alarms"));
    menu->addAction(QStringLiteral("Alarm limits…"), this, &TrendAlarms::editLimits);
    QAction *summary = dock->toggleViewAction();
    summary->setText(QStringLiteral("Alarm summary"));
    menu->addAction(summary);
}

QString TrendAlarms::valuesText(const QStringList &values) const
{
    QStringList texts;
    for (int sensor = 1; sensor <= schema::SensorCount && sensor <= values.size(); ++sensor) {
        const SensorLimits &named = m_watch.limits().sensor(sensor);
        const QString value = values[sensor - 1].trimmed();
        texts += value.isEmpty() || named.unit.isEmpty()
                     ? QStringLiteral("%1 %2").arg(named.name, value)
                     : QStringLiteral("%1 %2 %3").arg(named.name, value, named.unit);
    }
    return texts.join(ValueGap);
}

void TrendAlarms::editLimits()
{
    LimitsDialog dialog(m_watch.limitsPath(), m_watch.limits(), &m_window);
    if (dialog.exec() == QDialog::Accepted) {
        if (const std::optional<AlarmLimits> limits = dialog.limits())
            m_watch.setLimits(*limits);
    }
}

} // namespace qf
