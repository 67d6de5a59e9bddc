#include "trendview/alarmwatch.h"

#include "alarms/alarmjournal.h"
#include "alarms/alarmtext.h"
#include "alarms/limitsfile.h"
#include "common/error.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>

namespace qf {

namespace {

const QString StationName = QStringLiteral("Station");
constexpr double MillisecondsPerSecond = 1000;

RealTime realNow()
{
    return std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now());
}

bool knownAlarm(AlarmId alarm)
{
    return alarm.kind == AlarmKind::Silent ? alarm.sensor == StationSensor
                                           : alarm.sensor >= 1 && alarm.sensor <= schema::SensorCount;
}

QString number(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

QString limitText(AlarmId alarm, const AlarmLimits &limits)
{
    const QString kind = alarmKindText(alarm.kind);
    if (alarm.kind == AlarmKind::Silent)
        return limits.silentAfter.count() > 0
                   ? QStringLiteral("%1 %2 s").arg(
                         kind, number(double(limits.silentAfter.count()) / MillisecondsPerSecond))
                   : kind;
    const std::optional<double> limit = limits.limit(alarm);
    return limit ? kind + QLatin1Char(' ') + valueWithUnit(*limit, alarm.sensor, limits)
                 : QStringLiteral("%1 (no limit)").arg(kind);
}

QString valueText(AlarmId alarm, const AlarmStatus &status, const AlarmLimits &limits)
{
    if (!status.value)
        return {};
    if (alarm.kind == AlarmKind::Silent)
        return QStringLiteral("%1 s without a record").arg(number(*status.value));
    return valueWithUnit(*status.value, alarm.sensor, limits);
}

QString stateText(const AlarmStatus &status)
{
    QString text = alarmStateText(status.state);
    if (status.state == AlarmState::Shelved) {
        if (status.shelvedUntil)
            text += QStringLiteral(" until %1")
                        .arg(QDateTime::fromMSecsSinceEpoch(status.shelvedUntil->time_since_epoch().count())
                                 .toString(QStringLiteral("HH:mm")));
        if (status.active)
            text += QStringLiteral(" (active)");
    }
    return text;
}

} // namespace

std::vector<SummaryRow> summaryRows(const std::array<AlarmStatus, AlarmCount> &states,
                                    const AlarmLimits &limits)
{
    std::vector<SummaryRow> rows;
    for (int index = 0; index < AlarmCount; ++index) {
        const AlarmStatus &status = states[std::size_t(index)];
        if (status.state == AlarmState::Normal)
            continue;
        const AlarmId alarm = alarmAt(index);
        rows.push_back({alarm, status.state, limits.priority(alarm), status.since,
                        alarm.kind == AlarmKind::Silent ? StationName : limits.sensor(alarm.sensor).name,
                        limitText(alarm, limits), valueText(alarm, status, limits), stateText(status)});
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const SummaryRow &a, const SummaryRow &b) { return a.since > b.since; });
    return rows;
}

void AlarmSpans::take(const AlarmEvent &event)
{
    if (!knownAlarm(event.alarm))
        return; // a row the journal's reader passes on unchecked
    std::optional<std::size_t> &open = m_open[std::size_t(alarmIndex(event.alarm))];
    switch (event.kind) {
    case AlarmEventKind::Raised:
        if (!open) {
            open = m_spans.size();
            m_spans.push_back({event.alarm, event.time, std::nullopt});
        }
        break;
    case AlarmEventKind::Cleared:
    case AlarmEventKind::Shelved:
        if (open) {
            m_spans[*open].to = event.time;
            open.reset();
        }
        break;
    case AlarmEventKind::Acknowledged:
    case AlarmEventKind::Unshelved:
        break;
    }
}

void AlarmSpans::clear()
{
    m_spans.clear();
    m_open = {};
}

AlarmWatch::AlarmWatch(const QString &storePath, QObject *parent)
    : QObject(parent), m_journalPath(alarmJournalPath(storePath)), m_user(loginName()),
      m_limitsWatch(limitsFilePath(QFileInfo(storePath).absolutePath()), [this](const QString &problem) {
          m_limitsProblem = problem;
          emit problemChanged();
      })
{
    try {
        m_limits = m_limitsWatch.load();
    } catch (const StationError &e) {
        m_limitsProblem = e.error().description;
    }
    readJournal();
    m_poll.setInterval(PollInterval);
    connect(&m_poll, &QTimer::timeout, this, &AlarmWatch::poll);
    m_poll.start();
}

QString AlarmWatch::problem() const
{
    if (m_limitsProblem.isEmpty())
        return m_journalProblem;
    return m_journalProblem.isEmpty() ? m_limitsProblem
                                      : m_limitsProblem + QLatin1Char('\n') + m_journalProblem;
}

void AlarmWatch::poll()
{
    if (std::optional<AlarmLimits> limits = m_limitsWatch.check())
        setLimits(*limits);
    readJournal();
}

void AlarmWatch::setLimits(const AlarmLimits &limits)
{
    const bool hadProblem = !m_limitsProblem.isEmpty();
    m_limitsProblem.clear();
    if (hadProblem)
        emit problemChanged();
    if (limits == m_limits)
        return;
    m_limits = limits;
    emit limitsChanged();
}

void AlarmWatch::readJournal()
{
    try {
        if (!m_reader) {
            m_reader.emplace(m_journalPath);
            m_reader->changed(); // from now on it tells of writes
            m_spans.clear();
            m_lastEvent = 0;
            m_catchingUp = true;
        } else if (!m_reader->changed() && !m_catchingUp) {
            return;
        }
        m_states = m_reader->states();
        const std::vector<AlarmEvent> events = m_reader->eventsAfter(m_lastEvent, EventBatch);
        for (const AlarmEvent &event : events)
            m_spans.take(event);
        if (!events.empty())
            m_lastEvent = events.back().id;
        m_catchingUp = qsizetype(events.size()) == EventBatch;
        if (m_catchingUp)
            QTimer::singleShot(0, this, &AlarmWatch::readJournal);
        if (!m_journalProblem.isEmpty()) {
            m_journalProblem.clear();
            emit problemChanged();
        }
        emit alarmsChanged();
    } catch (const StationError &e) {
        closeJournal(e.error().code == ErrorCode::StoreMissing
                         ? QStringLiteral("No alarm journal %1 yet: quillfern-alarms has not run beside this "
                                          "store.")
                               .arg(m_journalPath)
                         : QStringLiteral("The alarm journal cannot be read: %1: %2")
                               .arg(e.error().number())
                               .arg(e.error().description));
    }
}

void AlarmWatch::closeJournal(const QString &problem)
{
    const bool hadAlarms = m_reader.has_value();
    m_reader.reset();
    m_states = {};
    m_spans.clear();
    m_catchingUp = false;
    if (problem != m_journalProblem) {
        m_journalProblem = problem;
        emit problemChanged();
    }
    if (hadAlarms)
        emit alarmsChanged();
}

void AlarmWatch::operate(const std::function<void(AlarmEngine &, RealTime)> &act)
{
    AlarmJournal journal(m_journalPath, AlarmJournal::Open::Existing);
    const RealTime now = realNow();
    journal.operate(
        m_limits, [&](AlarmEngine &engine) { act(engine, now); }, now);
    readJournal();
}

void AlarmWatch::acknowledge(const std::vector<AlarmId> &alarms)
{
    operate([&](AlarmEngine &engine, RealTime now) {
        for (const AlarmId alarm : alarms)
            engine.acknowledge({alarm.sensor, alarm.kind}, m_user, now);
    });
}

void AlarmWatch::acknowledgeAll()
{
    operate([&](AlarmEngine &engine, RealTime now) { engine.acknowledge({}, m_user, now); });
}

void AlarmWatch::shelve(const std::vector<AlarmId> &alarms, std::chrono::minutes duration)
{
    operate([&](AlarmEngine &engine, RealTime now) {
        for (const AlarmId alarm : alarms)
            engine.shelve({alarm.sensor, alarm.kind}, duration, m_user, now);
    });
}

} // namespace qf
