#include "store/storeconnection.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QUrl>
#include <QUuid>

namespace qf {

namespace {

// SQLite's primary result codes that the station tells apart.
constexpr int SqliteBusy = 5;
constexpr int SqliteLocked = 6;
constexpr int SqliteReadOnly = 8;
constexpr int SqliteFull = 13;
constexpr int SqliteCantOpen = 14;
constexpr int SqliteNotADb = 26;

} // namespace

QString storeUri(const QString &path, StoreConnection::Access access)
{
    // A file URL encodes '?', '#', '%', spaces and non-ASCII characters, which
    // SQLite decodes again; "mode" keeps SQLite from creating the file.
    const QString url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded);
    switch (access) {
    case StoreConnection::Access::ReadWrite:
        return url + QStringLiteral("?mode=rw");
    case StoreConnection::Access::Immutable:
        return url + QStringLiteral("?mode=ro&immutable=1");
    case StoreConnection::Access::ReadOnlyWal:
        return url + QStringLiteral("?mode=ro&readonly_shm=1");
    case StoreConnection::Access::ReadOnly:
        break;
    }
    // Where SQLite can create no shared-memory file beside the store (a
    // read-only mount) and no write-ahead log is left to read, the file is
    // read as immutable: nothing can change it there.
    const QFileInfo file(path);
    const bool noSidecars = !QFileInfo(file.absolutePath()).isWritable() &&
                            !QFileInfo::exists(file.absoluteFilePath() + QStringLiteral("-wal"));
    return url + (noSidecars ? QStringLiteral("?mode=ro&immutable=1") : QStringLiteral("?mode=ro"));
}

QString quotedName(const QString &name)
{
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString quotedText(const QString &text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

StoreConnection::StoreConnection(const QString &path, Access access)
    : m_path(path),
      m_name(QStringLiteral("quillfern-store-") + QUuid::createUuid().toString(QUuid::WithoutBraces))
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    db.setDatabaseName(storeUri(path, access));
    QString options = QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(StoreBusyWait.count());
    if (access != Access::ReadWrite)
        options += QStringLiteral(";QSQLITE_OPEN_READONLY");
    db.setConnectOptions(options);
    if (!db.open()) {
        const Error e = error(db.lastError());
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
        throw StationError(e);
    }
}

StoreConnection::~StoreConnection()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

sqlite3 *StoreConnection::handle() const
{
    const QVariant handle = QSqlDatabase::database(m_name, false).driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(handle.constData());
}

QSqlQuery StoreConnection::prepare(const QString &sql) const
{
    QSqlQuery query(QSqlDatabase::database(m_name, false));
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        throw StationError(error(query.lastError()));
    return query;
}

void StoreConnection::run(QSqlQuery &query, const QVariantList &values) const
{
    for (qsizetype i = 0; i < values.size(); ++i)
        query.bindValue(int(i), values.at(i));
    if (!query.exec())
        throw StationError(error(query.lastError()));
}

QSqlQuery StoreConnection::exec(const QString &sql, const QVariantList &values) const
{
    QSqlQuery query = prepare(sql);
    run(query, values);
    return query;
}

QVariant StoreConnection::scalar(const QString &sql, const QVariantList &values) const
{
    QSqlQuery query = exec(sql, values);
    QVariant value;
    if (query.next())
        value = query.value(0);
    query.finish();
    return value;
}

Error StoreConnection::error(const QSqlError &sqlError) const
{
    const QString detail = sqlError.databaseText().isEmpty() ? sqlError.text() : sqlError.databaseText();
    return qf::storeError(m_path, sqlError.nativeErrorCode().toInt(), detail);
}

Error storeError(const QString &path, int sqliteCode, const QString &detail)
{
    const int code = sqliteCode & 0xff; // extended codes carry the primary one in the low byte
    switch (code) {
    case SqliteCantOpen:
        if (!QFileInfo::exists(path))
            return {ErrorCode::StoreMissing, QStringLiteral("Store file not found: %1").arg(path)};
        return {ErrorCode::StoreFailed,
                QStringLiteral("Cannot open the store file %1: %2").arg(path, detail)};
    case SqliteNotADb:
        return {ErrorCode::StoreNotDatabase, QStringLiteral("Not a database file: %1").arg(path)};
    case SqliteReadOnly:
        return {
            ErrorCode::StoreFailed,
            QStringLiteral("The store file %1 is read-only: no record can be added or deleted.").arg(path)};
    case SqliteFull:
        return {ErrorCode::StoreFull,
                QStringLiteral("The disk that holds the store file %1 is full: %2").arg(path, detail)};
    case SqliteBusy:
    case SqliteLocked:
        return {ErrorCode::StoreBusy,
                QStringLiteral("The store file %1 is locked by another program: %2").arg(path, detail)};
    default:
        return {ErrorCode::StoreFailed, QStringLiteral("Store file %1: %2").arg(path, detail)};
    }
}

} // namespace qf
