#include "alarms/sqlitefile.h"

#include <QFileInfo>
#include <QUrl>

#include <sqlite3.h>

#include <chrono>
#include <utility>

namespace qf {

namespace {

// How long a statement waits for another program's lock on the journal.
constexpr std::chrono::milliseconds BusyWait{5000};

QString fileUri(const QString &path, SqliteFile::Access access)
{
    const QFileInfo file(path);
    const QString url = QUrl::fromLocalFile(file.absoluteFilePath()).toString(QUrl::FullyEncoded);
    switch (access) {
    case SqliteFile::Access::Create:
        return url + QStringLiteral("?mode=rwc");
    case SqliteFile::Access::ReadWrite:
        return url + QStringLiteral("?mode=rw");
    case SqliteFile::Access::ReadOnly:
        break;
    }
    // Where no shared-memory file can be made and no write-ahead log is
    // left, nothing can change the file: it is read as immutable.
    const bool noSidecars = !QFileInfo(file.absolutePath()).isWritable() &&
                            !QFileInfo::exists(file.absoluteFilePath() + QStringLiteral("-wal"));
    return url + (noSidecars ? QStringLiteral("?mode=ro&immutable=1") : QStringLiteral("?mode=ro"));
}

} // namespace

SqliteStatement::SqliteStatement(SqliteFile &file, const char *sql) : m_file(&file)
{
    const int code = sqlite3_prepare_v2(file.handle(), sql, -1, &m_statement, nullptr);
    if (code != SQLITE_OK)
        file.fail(code, QStringLiteral("preparing %1").arg(QString::fromUtf8(sql)));
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_statement);
}

SqliteStatement::SqliteStatement(SqliteStatement &&other) noexcept
    : m_file(other.m_file), m_statement(std::exchange(other.m_statement, nullptr))
{
}

SqliteStatement &SqliteStatement::bind(int index, qint64 value)
{
    sqlite3_bind_int64(m_statement, index, value);
    return *this;
}

SqliteStatement &SqliteStatement::bind(int index, double value)
{
    sqlite3_bind_double(m_statement, index, value);
    return *this;
}

SqliteStatement &SqliteStatement::bind(int index, const QString &value)
{
    if (value.isNull())
        return bindNull(index);
    const QByteArray utf8 = value.toUtf8();
    sqlite3_bind_text(m_statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    return *this;
}

SqliteStatement &SqliteStatement::bind(int index, const QByteArray &value)
{
    sqlite3_bind_blob(m_statement, index, value.constData(), int(value.size()), SQLITE_TRANSIENT);
    return *this;
}

SqliteStatement &SqliteStatement::bindNull(int index)
{
    sqlite3_bind_null(m_statement, index);
    return *this;
}

bool SqliteStatement::next()
{
    const int code = sqlite3_step(m_statement);
    if (code == SQLITE_ROW)
        return true;
    if (code == SQLITE_DONE)
        return false;
    sqlite3_reset(m_statement);
    m_file->fail(code, QString::fromUtf8(sqlite3_sql(m_statement)));
}

void SqliteStatement::run()
{
    while (next()) {
    }
    reset();
}

void SqliteStatement::reset()
{
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
}

bool SqliteStatement::isNull(int column) const
{
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

qint64 SqliteStatement::integer(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

std::optional<qint64> SqliteStatement::optionalInteger(int column) const
{
    return isNull(column) ? std::nullopt : std::optional(integer(column));
}

std::optional<double> SqliteStatement::real(int column) const
{
    return isNull(column) ? std::nullopt : std::optional(sqlite3_column_double(m_statement, column));
}

QString SqliteStatement::text(int column) const
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
    return text ? QString::fromUtf8(text, sqlite3_column_bytes(m_statement, column)) : QString();
}

QByteArray SqliteStatement::bytes(int column) const
{
    const auto *data = static_cast<const char *>(sqlite3_column_blob(m_statement, column));
    return data ? QByteArray(data, sqlite3_column_bytes(m_statement, column)) : QByteArray();
}

SqliteFile::SqliteFile(const QString &path, Access access) : m_path(path)
{
    if (access != Access::Create && !QFileInfo::exists(path))
        throw StationError(ErrorCode::StoreMissing, QStringLiteral("%1 not found").arg(path));
    const int flags =
        SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX |
        (access == Access::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    const int code = sqlite3_open_v2(fileUri(path, access).toUtf8().constData(), &m_db, flags, nullptr);
    if (code != SQLITE_OK) {
        const QString detail = QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(code));
        sqlite3_close(m_db); // no destructor runs for a constructor that throws
        throw StationError(code == SQLITE_NOTADB ? ErrorCode::StoreNotDatabase : ErrorCode::StoreFailed,
                           QStringLiteral("%1: %2").arg(path, detail));
    }
    sqlite3_busy_timeout(m_db, int(BusyWait.count()));
}

SqliteFile::~SqliteFile()
{
    sqlite3_close(m_db);
}

void SqliteFile::exec(const char *sql)
{
    const int code = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    if (code != SQLITE_OK)
        fail(code, QString::fromUtf8(sql));
}

qint64 SqliteFile::lastInsertRowid() const
{
    return sqlite3_last_insert_rowid(m_db);
}

void SqliteFile::fail(int code, const QString &doing) const
{
    ErrorCode error = ErrorCode::StoreFailed;
    switch (code & 0xff) {
    case SQLITE_FULL:
        error = ErrorCode::StoreFull;
        break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        error = ErrorCode::StoreBusy;
        break;
    case SQLITE_NOTADB:
        error = ErrorCode::StoreNotDatabase;
        break;
    default:
        break;
    }
    throw StationError(error, QStringLiteral("%1: %2 (%3)")
                                  .arg(m_path, QString::fromUtf8(sqlite3_errmsg(m_db)), doing.simplified()));
}

} // namespace qf
