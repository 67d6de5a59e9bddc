#include "store/logcount.h"

#include "common/error.h"
#include "store/recordschema.h"
#include "store/storeconnection.h"

#include <QSqlQuery>

#include <array>
#include <optional>
#include <type_traits>
#include <utility>

namespace qf {

namespace {

const QString CountTable = QStringLiteral("logRecordCount");
const QString InsertTrigger = QStringLiteral("logRecordCountInsert");
const QString DeleteTrigger = QStringLiteral("logRecordCountDelete");

// The statements exactly as SQLite keeps them in the schema, where the open
// compares them.
const QString CreateCountTable =
    QStringLiteral("CREATE TABLE logRecordCount (records INTEGER NOT NULL, seal INTEGER NOT NULL)");
const QString CreateInsertTrigger =
    QStringLiteral("CREATE TRIGGER logRecordCountInsert AFTER INSERT ON log BEGIN "
                   "UPDATE logRecordCount SET records = records + 1, seal = seal - 1; END");
const QString CreateDeleteTrigger =
    QStringLiteral("CREATE TRIGGER logRecordCountDelete AFTER DELETE ON log BEGIN "
                   "UPDATE logRecordCount SET records = records - 1, seal = seal + 1; END");

qint64 sealOf(qint64 count)
{
    return -count - 1;
}

void run(const StoreConnection &connection, const QString &sql, const QVariantList &values = {})
{
    connection.exec(sql, values).finish();
}

// Runs work between begin and COMMIT; rolls back and rethrows when it fails.
template <typename Work>
auto inTransaction(const StoreConnection &connection, const QString &begin, Work &&work)
{
    run(connection, begin);
    try {
        if constexpr (std::is_void_v<decltype(work())>) {
            work();
            run(connection, QStringLiteral("COMMIT"));
        } else {
            auto result = work();
            run(connection, QStringLiteral("COMMIT"));
            return result;
        }
    } catch (const StationError &) {
        try {
            run(connection, QStringLiteral("ROLLBACK"));
        } catch (const StationError &) {
            // SQLite may have rolled back already; the first error is the one to report.
        }
        throw;
    }
}

// Whether the schema holds the count's table and triggers with exactly the
// station's text; nullopt when it holds none of them.
std::optional<bool> schemaMatches(const StoreConnection &connection)
{
    const std::array<std::pair<QString, QString>, 3> expected{{{CountTable, CreateCountTable},
                                                               {InsertTrigger, CreateInsertTrigger},
                                                               {DeleteTrigger, CreateDeleteTrigger}}};
    int present = 0;
    bool matches = true;
    for (const auto &[name, sql] : expected) {
        const QVariant stored = connection.scalar(
            QStringLiteral("SELECT sql FROM sqlite_master WHERE name = ? COLLATE NOCASE"), {name});
        present += stored.isNull() ? 0 : 1;
        matches = matches && stored.toString() == sql;
    }
    if (present == 0)
        return std::nullopt;
    return matches;
}

// The count kept in logRecordCount when its one row is there and sealed.
std::optional<qint64> sealedCount(const StoreConnection &connection)
{
    QSqlQuery rows = connection.exec(
        QStringLiteral("SELECT records, seal, typeof(records), typeof(seal) FROM logRecordCount LIMIT 2"));
    std::optional<qint64> count;
    int found = 0;
    while (rows.next()) {
        ++found;
        const bool integers = rows.value(2).toString() == QLatin1String("integer") &&
                              rows.value(3).toString() == QLatin1String("integer");
        const qint64 records = rows.value(0).toLongLong();
        if (integers && records >= 0 && rows.value(1).toLongLong() == sealOf(records))
            count = records;
    }
    rows.finish();
    return found == 1 ? count : std::nullopt;
}

std::optional<qint64> rowidEnd(const StoreConnection &connection, const QString &rowid, bool last)
{
    const QVariant value = connection.scalar(
        QStringLiteral("SELECT %1 FROM %2 ORDER BY %1 %3 LIMIT 1")
            .arg(rowid, quotedName(schema::LogTable), last ? QStringLiteral("DESC") : QStringLiteral("ASC")));
    if (value.isNull())
        return std::nullopt;
    return value.toLongLong();
}

qint64 countRows(const StoreConnection &connection)
{
    return connection.scalar(QStringLiteral("SELECT count(*) FROM %1").arg(quotedName(schema::LogTable)))
        .toLongLong();
}

// The extent with the count from count(), read in the current transaction.
template <typename Count>
std::optional<LogExtent> extentWith(const StoreConnection &connection, const QString &rowid, Count &&count)
{
    const std::optional<qint64> records = count();
    if (!records)
        return std::nullopt;
    const std::optional<qint64> first = rowidEnd(connection, rowid, false);
    const std::optional<qint64> last = rowidEnd(connection, rowid, true);
    if (!first || !last)
        return *records == 0 ? std::optional<LogExtent>(LogExtent{}) : std::nullopt;
    if (*records == 0 || *records > *last - *first + 1)
        return std::nullopt;
    return LogExtent{*records, *first, *last};
}

// The extent of a count known to be exact.
LogExtent exact(const std::optional<LogExtent> &extent, const StoreConnection &connection)
{
    if (!extent)
        throw StationError(
            ErrorCode::StoreFailed,
            QStringLiteral("Store file %1: the record count does not fit the table").arg(connection.path()));
    return *extent;
}

std::optional<qint64> trustedCount(const StoreConnection &connection)
{
    if (schemaMatches(connection).value_or(false))
        return sealedCount(connection);
    return std::nullopt;
}

} // namespace

LogExtent readLogExtent(const StoreConnection &connection, const QString &rowid)
{
    auto counted = [&] { return countRows(connection); };
    auto kept = [&] { return trustedCount(connection); };
    if (const auto extent = inTransaction(connection, QStringLiteral("BEGIN"),
                                          [&] { return extentWith(connection, rowid, kept); }))
        return *extent;
    try {
        return exact(inTransaction(connection, QStringLiteral("BEGIN IMMEDIATE"),
                                   [&] {
                                       rebuildRecordCount(connection);
                                       return extentWith(connection, rowid, kept);
                                   }),
                     connection);
    } catch (const StationError &) {
        // A store this process may not write: count it instead.
        return exact(inTransaction(connection, QStringLiteral("BEGIN"),
                                   [&] { return extentWith(connection, rowid, counted); }),
                     connection);
    }
}

void rebuildRecordCount(const StoreConnection &connection)
{
    run(connection, QStringLiteral("DROP TRIGGER IF EXISTS ") + InsertTrigger);
    run(connection, QStringLiteral("DROP TRIGGER IF EXISTS ") + DeleteTrigger);
    run(connection, QStringLiteral("DROP TABLE IF EXISTS ") + CountTable);
    run(connection, CreateCountTable);
    const qint64 records = countRows(connection);
    run(connection, QStringLiteral("INSERT INTO logRecordCount (records, seal) VALUES (?, ?)"),
        {records, sealOf(records)});
    run(connection, CreateInsertTrigger);
    run(connection, CreateDeleteTrigger);
}

void deleteAllRecords(const StoreConnection &connection)
{
    run(connection, QStringLiteral("PRAGMA secure_delete=OFF"));
    inTransaction(connection, QStringLiteral("BEGIN IMMEDIATE"), [&] {
        run(connection, QStringLiteral("DROP TRIGGER IF EXISTS ") + DeleteTrigger);
        run(connection, QStringLiteral("DELETE FROM log"));
        rebuildRecordCount(connection);
    });
}

void appendUncounted(const StoreConnection &connection, qint64 added, const std::function<void()> &insert)
{
    run(connection, QStringLiteral("DROP TRIGGER ") + InsertTrigger);
    insert();
    run(connection, QStringLiteral("UPDATE logRecordCount SET records = records + ?, seal = seal - ?"),
        {added, added});
    run(connection, CreateInsertTrigger);
}

QStringList checkRecordCount(const StoreConnection &connection)
{
    return inTransaction(connection, QStringLiteral("BEGIN"), [&] {
        const std::optional<bool> matches = schemaMatches(connection);
        if (!matches)
            return QStringList();
        if (!*matches)
            return QStringList{
                QStringLiteral("The record count's table %1 or its triggers are missing or changed; "
                               "the station's next start (or quillfern-store repair) rebuilds them.")
                    .arg(CountTable)};
        const std::optional<qint64> kept = sealedCount(connection);
        const qint64 records = countRows(connection);
        if (kept == records)
            return QStringList();
        return QStringList{
            QStringLiteral("The record count in %1 says %2, but table log holds %3 records; "
                           "quillfern-store repair rebuilds it.")
                .arg(CountTable, kept ? QString::number(*kept) : QStringLiteral("nothing usable"))
                .arg(records)};
    });
}

} // namespace qf
