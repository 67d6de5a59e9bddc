#include "store/logstore.h"

#include "common/error.h"
#include "store/logcount.h"
#include "store/logtable.h"
#include "store/storeconnection.h"
#include "store/storetext.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace qf {

namespace {

constexpr int SynchronousFull = 2;

Error noCurrentRecord()
{
    return {ErrorCode::StoreFailed, QStringLiteral("No current record.")};
}

// A store this process can read but not write: a file without write
// permission (for the owner, too: an administrator could write it anyway) or
// on a read-only mount.
bool readOnlyFile(const QString &path)
{
    const QFileInfo file(path);
    constexpr QFile::Permissions anyWrite = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    return file.exists() && (!file.isWritable() || !(file.permissions() & anyWrite));
}

} // namespace

// ---------------------------------------------------------------- fields

QString quotedLogFields()
{
    QStringList fields;
    for (const QLatin1String field : LogFieldNames)
        fields.append(quotedName(field));
    return fields.join(QLatin1String(", "));
}

QVariant LogField::Value() const
{
    return m_recordset->currentValue(m_index);
}

void LogField::setValue(const QVariant &value)
{
    m_recordset->setEditValue(m_index, value);
}

LogFields::LogFields(LogRecordset &recordset)
{
    m_items.reserve(LogFieldCount);
    for (int i = 0; i < LogFieldCount; ++i)
        m_items.push_back(LogField(recordset, i));
}

LogField &LogFields::Item(const QString &name)
{
    for (LogField &field : m_items) {
        if (name.compare(field.Name(), Qt::CaseInsensitive) == 0)
            return field;
    }
    throw StationError(ErrorCode::FieldMissing,
                       QStringLiteral("Item not found in this collection: field '%1'").arg(name));
}

// ---------------------------------------------------------------- table check

QStringList checkLogTable(const StoreConnection &connection)
{
    QSqlQuery rows =
        connection.exec(QString::fromLatin1(qf::LogTableShapeSql), {QString(qf::schema::LogTable)});
    qf::LogTableShape shape;
    while (rows.next())
        shape.add(rows.value(0).toString(), rows.value(1).toString());
    rows.finish();
    qf::checkLogTableShape(connection.path(), shape);
    return shape.columns;
}

// ---------------------------------------------------------------- database

LogDatabase::LogDatabase(std::shared_ptr<StoreConnection> connection, bool readOnly)
    : m_connection(std::move(connection)), m_readOnly(readOnly)
{
}

std::shared_ptr<StoreConnection> LogDatabase::writingConnection() const
{
    return m_readOnly ? nullptr : m_connection;
}

LogDatabase::~LogDatabase() = default;

std::unique_ptr<LogDatabase> LogDatabase::OpenDatabase(const QString &path)
{
    const bool readOnly = readOnlyFile(path);
    auto connection = std::make_shared<StoreConnection>(path, readOnly ? StoreConnection::Access::ReadOnly
                                                                       : StoreConnection::Access::ReadWrite);
    // Reading the schema first proves the file is a database and leaves a
    // file that is not the store unchanged.
    checkLogTable(*connection);
    // A store that cannot be written is listed as it is; its first write
    // fails with an error that says so.
    if (readOnly)
        return std::unique_ptr<LogDatabase>(new LogDatabase(std::move(connection), true));

    const QString journal = connection->scalar(QStringLiteral("PRAGMA journal_mode=WAL")).toString();
    if (journal.compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
        throw StationError(
            ErrorCode::StoreFailed,
            QStringLiteral("Store file %1: write-ahead logging cannot be set (journal mode '%2')")
                .arg(path, journal));
    }
    connection->exec(QStringLiteral("PRAGMA synchronous=FULL")).finish();
    if (connection->scalar(QStringLiteral("PRAGMA synchronous")).toInt() != SynchronousFull) {
        throw StationError(ErrorCode::StoreFailed,
                           QStringLiteral("Store file %1: full synchronisation cannot be set").arg(path));
    }
    return std::unique_ptr<LogDatabase>(new LogDatabase(std::move(connection), false));
}

std::shared_ptr<LogRecordset> LogDatabase::OpenRecordset()
{
    const QStringList columns = checkLogTable(*m_connection);
    return std::shared_ptr<LogRecordset>(new LogRecordset(m_connection, qf::rowidName(columns)));
}

void LogDatabase::Execute(const QString &statement)
{
    m_connection->exec(statement).finish();
}

// ---------------------------------------------------------------- record set

LogRecordset::LogRecordset(std::shared_ptr<StoreConnection> connection, QString rowid)
    : m_connection(std::move(connection)), m_rowid(std::move(rowid))
{
    m_columns = m_rowid + QLatin1String(", ") + quotedLogFields();

    const LogExtent extent = readLogExtent(*m_connection, m_rowid);
    m_keyset = RowidKeyset(extent.count, extent.firstRowid, extent.lastRowid);
}

LogRecordset::~LogRecordset() = default;

qint64 LogRecordset::RecordCount() const
{
    return m_keyset.count();
}

void LogRecordset::MoveNext()
{
    if (Eof())
        throw StationError(noCurrentRecord());
    ++m_position;
}

void LogRecordset::MoveLast()
{
    if (RecordCount() == 0)
        throw StationError(noCurrentRecord());
    m_position = RecordCount() - 1;
}

void LogRecordset::AddNew()
{
    m_edit = {};
    m_editing = true;
}

void LogRecordset::Update()
{
    if (!m_editing)
        throw StationError(ErrorCode::StoreFailed, QStringLiteral("Update without AddNew."));
    if (!m_insert) {
        m_insert = m_connection->prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (?, ?, ?, ?, ?, ?)")
                                             .arg(quotedName(qf::schema::LogTable), quotedLogFields()));
    }
    QVariantList values(m_edit.begin(), m_edit.end());
    m_connection->run(*m_insert, values);
    const qint64 rowid = m_insert->lastInsertId().toLongLong();
    m_insert->finish();
    m_editing = false;
    m_keyset.append(rowid);
}

void LogRecordset::setEditValue(int field, const QVariant &value)
{
    if (!m_editing)
        throw StationError(ErrorCode::StoreFailed,
                           QStringLiteral("Field '%1' set without AddNew.").arg(LogFieldNames.at(field)));
    if (value.typeId() == QMetaType::QDateTime)
        m_edit.at(field) = storedDateTime(value.toDateTime());
    else
        m_edit.at(field) = value;
}

QVariant LogRecordset::currentValue(int field)
{
    if (m_editing) {
        const QVariant &value = m_edit.at(field);
        if (field == TimeAndDateField) {
            const QDateTime dateTime = parseStoredDateTime(value.toString());
            if (dateTime.isValid())
                return dateTime;
        }
        return value;
    }
    if (Eof())
        throw StationError(noCurrentRecord());
    if (!m_current || m_current->first != m_position)
        m_current.emplace(m_position, ReadRows(m_position, 1).front());
    return m_current->second.at(field);
}

std::optional<qint64> LogRecordset::rowidAt(const Segment &segment, qint64 offset)
{
    const auto where = m_keyset.locate(segment, offset);
    if (const qint64 *rowid = std::get_if<qint64>(&where))
        return *rowid;
    const auto &walk = std::get<RowidKeyset::Walk>(where);
    const QString sql =
        walk.forward ? QStringLiteral("SELECT %1 FROM %2 WHERE %1 > ? ORDER BY %1 LIMIT 1 OFFSET ?")
                     : QStringLiteral("SELECT %1 FROM %2 WHERE %1 < ? ORDER BY %1 DESC LIMIT 1 OFFSET ?");
    const QVariant rowid =
        m_connection->scalar(sql.arg(m_rowid, quotedName(qf::schema::LogTable)), {walk.from, walk.steps});
    if (rowid.isNull())
        return std::nullopt;
    m_keyset.remember(offset, rowid.toLongLong());
    return rowid.toLongLong();
}

LogRecordset::Values LogRecordset::readRow(QSqlQuery &query, int column) const
{
    Values values;
    for (int i = 0; i < LogFieldCount; ++i)
        values.at(i) = query.value(column + i);
    QVariant &dateTime = values.at(TimeAndDateField);
    if (dateTime.typeId() == QMetaType::QString) {
        const QDateTime parsed = parseStoredDateTime(dateTime.toString());
        if (parsed.isValid())
            dateTime = parsed;
    }
    return values;
}

void LogRecordset::readSegment(const Segment &segment, qint64 from, qint64 count, std::vector<Values> &rows,
                               qint64 first)
{
    const QString table = quotedName(qf::schema::LogTable);
    const std::optional<qint64> start = rowidAt(segment, from);
    if (!start)
        return;
    if (segment.dense) {
        QSqlQuery query =
            m_connection->exec(QStringLiteral("SELECT %1 FROM %2 WHERE %3 BETWEEN ? AND ? ORDER BY %3")
                                   .arg(m_columns, table, m_rowid),
                               {*start, *start + count - 1});
        while (query.next()) {
            const qint64 at = segment.position + query.value(0).toLongLong() - segment.firstRowid;
            rows.at(at - first) = readRow(query, 1);
        }
        query.finish();
        return;
    }
    QSqlQuery query =
        m_connection->exec(QStringLiteral("SELECT %1 FROM %2 WHERE %3 >= ? AND %3 <= ? ORDER BY %3 LIMIT ?")
                               .arg(m_columns, table, m_rowid),
                           {*start, segment.lastRowid, count});
    qint64 offset = from;
    qint64 lastRowid = *start;
    while (query.next()) {
        lastRowid = query.value(0).toLongLong();
        rows.at(segment.position + offset - first) = readRow(query, 1);
        ++offset;
    }
    query.finish();
    if (offset > from)
        m_keyset.remember(offset - 1, lastRowid);
}

std::vector<LogRecordset::Values> LogRecordset::ReadRows(qint64 first, qint64 count)
{
    const qint64 end = std::min(first + count, RecordCount());
    std::vector<Values> rows(std::size_t(std::max<qint64>(0, end - first)));
    for (qint64 position = std::max<qint64>(0, first); position < end;) {
        const Segment *segment = m_keyset.segmentAt(position);
        const qint64 offset = position - segment->position;
        const qint64 n = std::min(end - position, segment->count - offset);
        readSegment(*segment, offset, n, rows, first);
        position += n;
    }
    return rows;
}

} // namespace qf
