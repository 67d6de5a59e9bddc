#include "alarms/alarmtext.h"

#include <QLocale>

#include <pwd.h>
#include <unistd.h>

#include <algorithm>

namespace qf {

namespace {

constexpr QLatin1String StationName("Station");
constexpr QLatin1String AllAlarms("all");
constexpr QLatin1Char AlarmSeparator(':');
constexpr QLatin1String CsvLineEnd("\r\n");

QString number(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\r')) && !text.contains(QLatin1Char('\n')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// The alarm's value in words: "31.5 °C" for a limit, "120 s without a
// record" for silent.
QString statusValue(AlarmId alarm, std::optional<double> value, const AlarmLimits &limits)
{
    if (!value)
        return {};
    if (alarm.kind == AlarmKind::Silent)
        return QStringLiteral("%1 s without a record").arg(number(*value));
    return valueWithUnit(*value, alarm.sensor, limits);
}

QString limitText(AlarmId alarm, const AlarmLimits &limits)
{
    if (alarm.kind == AlarmKind::Silent)
        return limits.silentAfter.count() > 0
                   ? QStringLiteral("%1 s").arg(number(double(limits.silentAfter.count()) / 1000.0))
                   : QString();
    const std::optional<double> limit = limits.limit(alarm);
    return limit ? valueWithUnit(*limit, alarm.sensor, limits) : QStringLiteral("none");
}

} // namespace

QString alarmName(AlarmId alarm, const AlarmLimits &limits)
{
    if (alarm.kind == AlarmKind::Silent)
        return StationName + QLatin1Char(' ') + alarmKindText(alarm.kind);
    return limits.sensor(alarm.sensor).name + QLatin1Char(' ') + alarmKindText(alarm.kind);
}

QString valueWithUnit(double value, int sensor, const AlarmLimits &limits)
{
    const QString &unit = limits.sensor(sensor).unit;
    return unit.isEmpty() ? number(value) : number(value) + QLatin1Char(' ') + unit;
}

QString eventLine(const AlarmEvent &event, const AlarmLimits &limits)
{
    QString line = alarmName(event.alarm, limits) + QLatin1Char(' ') + alarmEventText(event.kind);
    const QString value = statusValue(event.alarm, event.value, limits);
    switch (event.kind) {
    case AlarmEventKind::Raised:
        if (event.alarm.kind == AlarmKind::Silent)
            line += QStringLiteral(": %1").arg(value);
        else if (!value.isEmpty())
            line += QStringLiteral(": %1 beyond %2").arg(value, limitText(event.alarm, limits));
        line += QStringLiteral(" (");
        if (event.recordRowid)
            line += QStringLiteral("record %1, ").arg(*event.recordRowid);
        line += QStringLiteral("priority %1)").arg(priorityText(limits.priority(event.alarm)));
        break;
    case AlarmEventKind::Cleared:
        if (!value.isEmpty())
            line += QStringLiteral(": %1").arg(value);
        if (event.recordRowid)
            line += QStringLiteral(" (record %1)").arg(*event.recordRowid);
        break;
    case AlarmEventKind::Shelved:
        line += QStringLiteral(" for %1 min").arg(number(event.value.value_or(0)));
        break;
    case AlarmEventKind::Acknowledged:
    case AlarmEventKind::Unshelved:
        break;
    }
    if (!event.user.isEmpty())
        line += QStringLiteral(" by ") + event.user;
    return line;
}

QStringList alarmTable(const std::array<AlarmStatus, AlarmCount> &statuses, const AlarmLimits &limits)
{
    std::vector<QStringList> rows{{QStringLiteral("ALARM"), QStringLiteral("STATE"), QStringLiteral("VALUE"),
                                   QStringLiteral("LIMIT"), QStringLiteral("SINCE"),
                                   QStringLiteral("PRIORITY"), QStringLiteral("SHELVED UNTIL")}};
    for (int index = 0; index < AlarmCount; ++index) {
        const AlarmId alarm = alarmAt(index);
        const AlarmStatus &status = statuses[std::size_t(index)];
        if (status.state == AlarmState::Normal)
            continue;
        const QString state =
            alarmStateText(status.state) +
            (status.state == AlarmState::Shelved && status.active ? QStringLiteral(" (active)") : QString());
        rows.push_back({alarmName(alarm, limits), state, statusValue(alarm, status.value, limits),
                        limitText(alarm, limits), journalTimeText(status.since),
                        priorityText(limits.priority(alarm)),
                        status.shelvedUntil ? journalTimeText(*status.shelvedUntil) : QString()});
    }
    if (rows.size() == 1)
        return {QStringLiteral("no current alarms")};
    std::vector<qsizetype> widths(rows.front().size(), 0);
    for (const QStringList &row : rows)
        for (qsizetype c = 0; c < row.size(); ++c)
            widths[std::size_t(c)] = std::max(widths[std::size_t(c)], row.at(c).size());
    QStringList lines;
    for (const QStringList &row : rows) {
        QString line;
        for (qsizetype c = 0; c < row.size(); ++c)
            line += row.at(c).leftJustified(widths[std::size_t(c)] + 2);
        lines.append(line.trimmed());
    }
    return lines;
}

QByteArray eventsCsv(const std::vector<AlarmEvent> &events)
{
    QString csv = QStringLiteral("id,time,sensor,alarm,event,value,record_rowid,user") + CsvLineEnd;
    for (const AlarmEvent &event : events) {
        const QStringList fields{QString::number(event.id),
                                 journalTimeText(event.time),
                                 QString::number(event.alarm.sensor),
                                 alarmKindText(event.alarm.kind),
                                 alarmEventText(event.kind),
                                 event.value ? number(*event.value) : QString(),
                                 event.recordRowid ? QString::number(*event.recordRowid) : QString(),
                                 csvField(event.user)};
        csv += fields.join(QLatin1Char(',')) + CsvLineEnd;
    }
    return csv.toUtf8();
}

std::optional<AlarmSelector> parseSelector(const QString &text, bool allowAll)
{
    if (text == AllAlarms)
        return allowAll ? std::optional(AlarmSelector{}) : std::nullopt;
    const QString sensorText = text.section(AlarmSeparator, 0, 0);
    const bool named = text.contains(AlarmSeparator);
    AlarmSelector selector;
    if (sensorText.compare(StationName, Qt::CaseInsensitive) == 0) {
        selector.sensor = StationSensor;
    } else {
        bool ok = false;
        const int sensor = sensorText.toInt(&ok);
        if (!ok || sensor < StationSensor || sensor > schema::SensorCount)
            return std::nullopt;
        selector.sensor = sensor;
    }
    if (named) {
        selector.kind = alarmKindFromText(text.section(AlarmSeparator, 1));
        if (!selector.kind)
            return std::nullopt;
    }
    const bool stationKind = !selector.kind || *selector.kind == AlarmKind::Silent;
    const bool sensorKind = !selector.kind || *selector.kind != AlarmKind::Silent;
    if (*selector.sensor == StationSensor ? !stationKind : !sensorKind)
        return std::nullopt;
    return selector;
}

std::optional<std::chrono::minutes> parseShelveMinutes(const QString &text)
{
    bool ok = false;
    const int minutes = text.toInt(&ok);
    if (!ok || minutes < 0 || std::chrono::minutes(minutes) > MaxShelve)
        return std::nullopt;
    return std::chrono::minutes(minutes);
}

QString loginName()
{
    if (const char *login = ::getlogin())
        return QString::fromLocal8Bit(login);
    if (const passwd *user = ::getpwuid(::geteuid()))
        return QString::fromLocal8Bit(user->pw_name);
    return QString::number(::geteuid());
}

} // namespace qf
