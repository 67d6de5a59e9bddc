#include "uplink/storereader.h"

#include "store/logstore.h"
#include "store/storeconnection.h"
#include "store/storetext.h"

#include <cmath>

namespace qf {

namespace {

constexpr int RowidColumn = 0;
constexpr int FirstFieldColumn = 1; // Sr No, then the other fields in their order
constexpr int TimeColumn = FirstFieldColumn + TimeAndDateField;
constexpr int FirstTempColumn = TimeColumn + 1;

bool sameNumber(const std::optional<double> &a, const std::optional<double> &b)
{
    if (a && b && std::isnan(*a) && std::isnan(*b))
        return true;
    return a == b;
}

QString selectFrom()
{
    QStringList fields;
    for (const QLatin1String field : LogFieldNames)
        fields.append(quotedName(field));
    return QStringLiteral("SELECT rowid, %1 FROM log WHERE rowid >= ? ORDER BY rowid LIMIT ?")
        .arg(fields.join(QLatin1String(", ")));
}

std::optional<QString> textOf(const QVariant &value)
{
    if (value.isNull())
        return std::nullopt;
    QString text = value.toString();
    text.remove(QChar(0)); // the central database's text holds no NUL
    return text;
}

std::optional<qint64> timeOf(const QVariant &value)
{
    const QDateTime dateTime = parseStoredDateTime(value.toString());
    if (value.isNull() || !dateTime.isValid())
        return std::nullopt;
    return dateTime.toSecsSinceEpoch();
}

std::optional<double> numberOf(const QVariant &value)
{
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (value.isNull() || !ok)
        return std::nullopt;
    return number;
}

ForwardedRecord recordOf(const QSqlQuery &query)
{
    ForwardedRecord record;
    record.rowid = query.value(RowidColumn).toLongLong();
    record.srNo = textOf(query.value(FirstFieldColumn));
    record.time = timeOf(query.value(TimeColumn));
    for (std::size_t i = 0; i < record.temps.size(); ++i)
        record.temps[i] = numberOf(query.value(FirstTempColumn + int(i)));
    return record;
}

} // namespace

bool ForwardedRecord::operator==(const ForwardedRecord &other) const
{
    for (std::size_t i = 0; i < temps.size(); ++i) {
        if (!sameNumber(temps[i], other.temps[i]))
            return false;
    }
    return rowid == other.rowid && srNo == other.srNo && time == other.time;
}

StoreReader::StoreReader(const QString &path)
    : m_connection(std::make_unique<StoreConnection>(path, StoreConnection::Access::ReadOnly))
{
    checkLogTable(*m_connection, QStringLiteral("log"));
    m_select = m_connection->prepare(selectFrom());
}

StoreReader::~StoreReader() = default;

std::vector<ForwardedRecord> StoreReader::read(qint64 first, int limit) const
{
    m_connection->run(m_select, {first, limit});
    std::vector<ForwardedRecord> records;
    records.reserve(std::size_t(limit));
    while (m_select.next())
        records.push_back(recordOf(m_select));
    m_select.finish(); // ends the read transaction
    return records;
}

} // namespace qf
