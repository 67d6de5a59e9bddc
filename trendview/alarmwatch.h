#pragma once

// What the trend viewer knows of the station's alarms, without widgets: the
// limits in quillfern.ini and the alarm journal velk.mdb.alarms, both
// followed while the viewer is open, and the operator's actions on the
// journal (the same as `quillfern-alarms ack` and `shelve`).

#include "alarms/alarmengine.h"
#include "alarms/alarmlimits.h"
#include "alarms/journalreader.h"
#include "alarms/limitswatch.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <vector>

namespace qf {

// The alarm waits for the operator's acknowledgement (still active or
// returned to normal).
inline bool unacknowledged(AlarmState state)
{
    return state == AlarmState::Unacknowledged || state == AlarmState::Returned;
}

// One line of the alarm summary: an alarm that is active, waits for its
// acknowledgement or is shelved, in words (plain text, never markup).
struct SummaryRow {
    AlarmId alarm;
    AlarmState state = AlarmState::Normal;
    AlarmPriority priority = AlarmPriority::Medium;
    RealTime since{};
    QString sensor; // the sensor's name, "Station" for the silence
    QString limit;  // "H 30 °C", "silent 60 s"
    QString value;  // the value of the last raise or clear, with its unit
    QString stateText;
};

// The summary's lines: every alarm that is not normal, the newest change
// first.
std::vector<SummaryRow> summaryRows(const std::array<AlarmStatus, AlarmCount> &states,
                                    const AlarmLimits &limits);

// A stretch of time an alarm was active as the operator was told: from its
// raise to its clear or its shelving; still open while it lasts.
struct AlarmSpan {
    AlarmId alarm;
    RealTime from{};
    std::optional<RealTime> to;
};

// The spans of the journal's events, taken in id order.
class AlarmSpans {
public:
    void take(const AlarmEvent &event);
    void clear();
    const std::vector<AlarmSpan> &spans() const { return m_spans; }

private:
    std::vector<AlarmSpan> m_spans;
    std::array<std::optional<std::size_t>, AlarmCount> m_open{}; // the open span of each alarm
};

class AlarmWatch : public QObject {
    Q_OBJECT

public:
    // A raised event is seen within this (and the service's own poll).
    static constexpr std::chrono::milliseconds PollInterval{250};
    // Events read per turn of the event loop, so that a long journal is
    // taken in without holding the window up.
    static constexpr qsizetype EventBatch = 20000;

    // The limits beside the store (quillfern.ini) and its alarm journal;
    // polls from now on.
    explicit AlarmWatch(const QString &storePath, QObject *parent = nullptr);

    const QString &limitsPath() const { return m_limitsWatch.path(); }
    const AlarmLimits &limits() const { return m_limits; }
    // The state of every alarm at alarmIndex (all normal without a journal).
    const std::array<AlarmStatus, AlarmCount> &states() const { return m_states; }
    const std::vector<AlarmSpan> &spans() const { return m_spans.spans(); }
    // Why the limits or the journal cannot be used as they are; empty when
    // all is well.
    QString problem() const;

    // Looks for an edit of the limits and for new events.
    void poll();
    // Limits the viewer wrote itself: taken at once.
    void setLimits(const AlarmLimits &limits);

    // The operator's actions, each one transaction on the journal by the
    // login name; then the journal is read again. Throw StationError (3024
    // when the service has never run).
    void acknowledge(const std::vector<AlarmId> &alarms);
    void acknowledgeAll();
    // 0 minutes unshelves.
    void shelve(const std::vector<AlarmId> &alarms, std::chrono::minutes duration);

signals:
    void limitsChanged();
    void alarmsChanged();
    void problemChanged();

private:
    void readJournal();
    void closeJournal(const QString &problem);
    void operate(const std::function<void(AlarmEngine &, RealTime)> &act);

    QString m_journalPath;
    QString m_user;
    LimitsWatch m_limitsWatch;
    AlarmLimits m_limits = AlarmLimits::defaults();
    QString m_limitsProblem;
    QString m_journalProblem;
    std::optional<AlarmJournalReader> m_reader;
    std::array<AlarmStatus, AlarmCount> m_states{};
    AlarmSpans m_spans;
    qint64 m_lastEvent = 0;
    bool m_catchingUp = false;
    QTimer m_poll;
};

} // namespace qf
