#include "recordlog/loglisting.h"

#include "store/storetext.h"

namespace qf {

LogListing::LogListing(std::shared_ptr<LogRecordset> records, qint64 first)
    : m_records(std::move(records)), m_first(first)
{
}

qint64 LogListing::recordCount() const
{
    return m_records->RecordCount() - m_first;
}

QList<QStringList> LogListing::readRows(qint64 first, int count)
{
    QList<QStringList> rows;
    const std::vector<LogRecordset::Values> records = m_records->ReadRows(m_first + first, count);
    rows.reserve(qsizetype(records.size()));
    for (const LogRecordset::Values &values : records) {
        QStringList texts;
        texts.reserve(LogFieldCount);
        for (const QVariant &value : values)
            texts.append(valueText(value, m_locale));
        rows.append(texts);
    }
    return rows;
}

} // namespace qf
