#include "store/logtable.h"

#include "common/error.h"
#include "store/logstore.h"
#include "store/recordschema.h"
#include "store/storeconnection.h"

namespace qf {

void LogTableShape::add(QStringView type, const QString &column)
{
    found = true;
    view = view || type.compare(QLatin1String("view"), Qt::CaseInsensitive) == 0;
    columns.append(column);
}

void checkLogTableShape(const QString &path, const LogTableShape &shape)
{
    const QString table = schema::LogTable;
    if (!shape.found)
        throw StationError(ErrorCode::TableMissing,
                           QStringLiteral("Table '%1' not found in %2").arg(table, path));
    if (shape.view) {
        throw StationError(ErrorCode::StoreFailed,
                           QStringLiteral("Store file %1: '%2' is a view, not a table; records are kept "
                                          "only in a table '%2'")
                               .arg(path, table));
    }
    for (const QLatin1String field : schema::FieldNames) {
        if (!shape.columns.contains(field, Qt::CaseInsensitive)) {
            throw StationError(
                ErrorCode::FieldMissing,
                QStringLiteral("Field '%1' not found in table '%2' of %3").arg(field, table, path));
        }
    }
}

QString rowidName(const QStringList &columns)
{
    for (const QString &name : {QStringLiteral("rowid"), QStringLiteral("_rowid_"), QStringLiteral("oid")}) {
        if (!columns.contains(name, Qt::CaseInsensitive))
            return name;
    }
    return QStringLiteral("rowid");
}

QString rowidsExhaustedText(const QString &path)
{
    return QStringLiteral("Store file %1: a record of table '%2' has the highest rowid there is (%3), so new "
                          "records get rowids at random and can no longer be followed in order. Export the "
                          "records, delete all records, and start again.")
        .arg(path, schema::LogTable)
        .arg(RowidLimit);
}

bool rowidsExhausted(const StoreConnection &connection)
{
    const QString rowid = rowidName(checkLogTable(connection));
    const QVariant newest =
        connection.scalar(QStringLiteral("SELECT max(%1) FROM %2").arg(rowid, quotedName(schema::LogTable)));
    return !newest.isNull() && newest.toLongLong() == RowidLimit;
}

} // namespace qf
