#include "gateway/recordmessage.h"

#include "gateway/jsontext.h"
#include "store/storetext.h"

#include <array>
#include <cmath>

namespace qf {

namespace {

constexpr int SecondsPerMinute = 60;
constexpr int MinutesPerHour = 60;
constexpr std::array<const char *, schema::SensorCount> SensorKeys{"temp1", "temp2", "temp3", "temp4"};

} // namespace

QString isoTimeWithOffset(const QDateTime &time, bool milliseconds)
{
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / SecondsPerMinute;
    return time.toString(milliseconds ? QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz")
                                      : QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")) +
           QStringLiteral("%1%2:%3")
               .arg(QChar(offset < 0 ? u'-' : u'+'))
               .arg(minutes / MinutesPerHour, 2, 10, QLatin1Char('0'))
               .arg(minutes % MinutesPerHour, 2, 10, QLatin1Char('0'));
}

QDateTime recordTime(const std::optional<std::string_view> &stamp)
{
    if (!stamp)
        return {};
    return parseStoredDateTime(QString::fromUtf8(stamp->data(), qsizetype(stamp->size())));
}

QByteArray recordMessage(const RecordView &record, int generation)
{
    JsonObject message;
    message.addInteger("generation", generation).addInteger("rowid", record.rowid);
    message.add("sr_no", record.srNo ? jsonString(*record.srNo) : QByteArrayLiteral("null"));
    const QDateTime time = recordTime(record.stamp);
    message.addString("time", time.isValid() ? std::optional(isoTimeWithOffset(time)) : std::nullopt);
    for (std::size_t sensor = 0; sensor < SensorKeys.size(); ++sensor)
        message.addNumber(SensorKeys[sensor], record.values[sensor]);
    return message.text();
}

QByteArray sensorPayload(std::optional<double> value)
{
    return value && std::isfinite(*value) ? jsonNumber(value) : QByteArray();
}

} // namespace qf
