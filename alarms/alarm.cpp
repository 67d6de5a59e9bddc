#include "alarms/alarm.h"

#include <QDateTime>

namespace qf {

namespace {

template <typename Enum, std::size_t N>
std::optional<Enum> fromText(QStringView text, const std::array<QLatin1String, N> &names)
{
    for (std::size_t i = 0; i < N; ++i)
        if (text == names[i])
            return Enum(i);
    return std::nullopt;
}

constexpr std::array<QLatin1String, 5> KindNames{QLatin1String("HH"), QLatin1String("H"), QLatin1String("L"),
                                                 QLatin1String("LL"), QLatin1String("silent")};
constexpr std::array<QLatin1String, 5> StateNames{QLatin1String("normal"), QLatin1String("unacknowledged"),
                                                  QLatin1String("acknowledged"), QLatin1String("returned"),
                                                  QLatin1String("shelved")};
constexpr std::array<QLatin1String, 5> EventNames{QLatin1String("raised"), QLatin1String("cleared"),
                                                  QLatin1String("acknowledged"), QLatin1String("shelved"),
                                                  QLatin1String("unshelved")};

// The forms a journal time is read in, longest first.
constexpr std::array<QLatin1String, 4> TimeForms{
    QLatin1String("yyyy-MM-dd HH:mm:ss.zzz"), QLatin1String("yyyy-MM-dd HH:mm:ss"),
    QLatin1String("yyyy-MM-dd HH:mm"), QLatin1String("yyyy-MM-dd")};

} // namespace

QString alarmKindText(AlarmKind kind)
{
    return KindNames[std::size_t(kind)];
}
std::optional<AlarmKind> alarmKindFromText(QStringView text)
{
    return fromText<AlarmKind>(text, KindNames);
}
QString alarmStateText(AlarmState state)
{
    return StateNames[std::size_t(state)];
}
std::optional<AlarmState> alarmStateFromText(QStringView text)
{
    return fromText<AlarmState>(text, StateNames);
}
QString alarmEventText(AlarmEventKind kind)
{
    return EventNames[std::size_t(kind)];
}
std::optional<AlarmEventKind> alarmEventFromText(QStringView text)
{
    return fromText<AlarmEventKind>(text, EventNames);
}

QString journalTimeText(RealTime time)
{
    return QDateTime::fromMSecsSinceEpoch(time.time_since_epoch().count()).toString(TimeForms.front());
}

std::optional<RealTime> parseJournalTime(QStringView text)
{
    QString normal = text.trimmed().toString();
    if (normal.size() > 10 && normal.at(10) == QLatin1Char('T'))
        normal[10] = QLatin1Char(' ');
    for (const QLatin1String form : TimeForms) {
        const QDateTime parsed = QDateTime::fromString(normal, form);
        if (parsed.isValid())
            return RealTime(std::chrono::milliseconds(parsed.toMSecsSinceEpoch()));
    }
    return std::nullopt;
}

} // namespace qf
