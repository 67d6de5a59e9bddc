#pragma once

#include "trendview/alarmwatch.h"

#include <QColor>
#include <QTimer>
#include <QWidget>

#include <array>
#include <chrono>
#include <functional>
#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;

namespace qf {

// The colour of a priority: high red, medium orange, low yellow.
QColor priorityColor(AlarmPriority priority);

// The alarm summary: one row per alarm that is active, waits for its
// acknowledgement or is shelved (sensor, limit, value, since, state,
// priority by colour), the newest change first; a row waiting for its
// acknowledgement blinks. "Acknowledge" and "Shelve…" act on the rows
// selected, "Acknowledge all" on every alarm. While a high-priority alarm
// waits for its acknowledgement the system bell sounds every few seconds
// until it is acknowledged or "Silence" is pressed (an alarm raised anew
// sounds again). Problems with the journal or the limits stand above the
// rows. Every text is shown as plain text.
class AlarmSummary : public QWidget {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds BlinkInterval{500};
    static constexpr std::chrono::milliseconds BellInterval{3000};

    explicit AlarmSummary(AlarmWatch &watch, QWidget *parent = nullptr);

    // The newest alarm waiting for its acknowledgement, for the status bar
    // to take (hidden while there is none).
    QLabel *newestLabel() const { return m_newest; }
    QTableWidget *table() const { return m_table; }

private:
    void showAlarms();
    void showProblem();
    void blink();
    void showBlink();
    void ring();
    bool ringing() const;
    std::vector<AlarmId> selectedAlarms() const;
    void updateButtons();
    // Runs an operator's action; a failure is told in a box.
    void act(const std::function<void()> &action);
    void shelveSelected();
    void silence();

    AlarmWatch &m_watch;
    std::vector<SummaryRow> m_rows;
    QLabel *m_problem = nullptr;
    QTableWidget *m_table = nullptr;
    QPushButton *m_acknowledge = nullptr;
    QPushButton *m_acknowledgeAll = nullptr;
    QPushButton *m_shelve = nullptr;
    QPushButton *m_silence = nullptr;
    QLabel *m_newest = nullptr;
    QTimer m_blink;
    QTimer m_bell;
    bool m_blinkOn = true;
    // Alarms the operator silenced; the mark goes when the alarm is
    // acknowledged or raised anew.
    std::array<bool, AlarmCount> m_silenced{};
    std::array<AlarmState, AlarmCount> m_shownStates{};
};

} // namespace qf
