#include "trend/trendstore.h"

#include "common/error.h"
#include "store/storemaintenance.h"

#include <QFileInfo>
#include <QUrl>
#include <QVariantList>

#include <sqlite3.h>

#include <charconv>
#include <memory>

namespace {

constexpr int BusyTimeoutMs = 5000;
constexpr int FieldCount = 6;
constexpr int FirstValueColumn = 3; // after rowid, "Sr No", TimeAndDate
constexpr qsizetype ExportBuffer = 1 << 16;
constexpr const char *FieldNames[FieldCount] = {"Sr No", "TimeAndDate", "Temp1", "Temp2", "Temp3", "Temp4"};
constexpr const char *SelectFields = "\"Sr No\", TimeAndDate, Temp1, Temp2, Temp3, Temp4";

using Statement = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

std::string_view columnText(sqlite3_stmt *statement, int column)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    return text ? std::string_view(text, std::size_t(sqlite3_column_bytes(statement, column)))
                : std::string_view();
}

// A number stored as a number, or as text that is a number; a null or
// any other text is no value.
float columnValue(sqlite3_stmt *statement, int column)
{
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
        return float(sqlite3_column_double(statement, column));
    case SQLITE_TEXT: {
        const std::string_view text = columnText(statement, column);
        double value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        return error == std::errc() && end == text.data() + text.size() ? float(value) : NoValue;
    }
    default:
        return NoValue;
    }
}

QVariant columnVariant(sqlite3_stmt *statement, int column)
{
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
        return sqlite3_column_int64(statement, column);
    case SQLITE_FLOAT:
        return sqlite3_column_double(statement, column);
    case SQLITE_NULL:
        return {};
    default: {
        const std::string_view text = columnText(statement, column);
        return QString::fromUtf8(text.data(), qsizetype(text.size()));
    }
    }
}

QString readOnlyUri(const QString &path)
{
    const QString url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded);
    return url + QStringLiteral("?mode=ro");
}

} // namespace

TrendStore::TrendStore(const QString &path) : m_path(path)
{
    const QByteArray uri = readOnlyUri(path).toUtf8();
    const int code = sqlite3_open_v2(uri.constData(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
    if (code != SQLITE_OK) {
        const int primary = code & 0xff;
        sqlite3_close(m_db);
        m_db = nullptr;
        fail(primary);
    }
    sqlite3_busy_timeout(m_db, BusyTimeoutMs);
    try {
        checkTable();
    } catch (const StationError &) {
        sqlite3_close(m_db); // no destructor runs for a constructor that throws
        m_db = nullptr;
        throw;
    }
}

TrendStore::~TrendStore()
{
    sqlite3_close(m_db);
}

void TrendStore::fail(int code)
{
    switch (code & 0xff) {
    case SQLITE_CANTOPEN:
        if (!QFileInfo::exists(m_path))
            throw StationError(ErrorCode::StoreMissing,
                               QStringLiteral("Store file not found: %1").arg(m_path));
        break;
    case SQLITE_NOTADB:
        throw StationError(ErrorCode::StoreNotDatabase,
                           QStringLiteral("Not a database file: %1").arg(m_path));
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        throw StationError(ErrorCode::StoreBusy,
                           QStringLiteral("The store file %1 is locked by another program").arg(m_path));
    default:
        break;
    }
    const QString detail = QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(code));
    throw StationError(ErrorCode::StoreFailed, QStringLiteral("Store file %1: %2").arg(m_path, detail));
}

sqlite3_stmt *TrendStore::prepare(const char *sql)
{
    sqlite3_stmt *statement = nullptr;
    const int code = sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr);
    if (code != SQLITE_OK)
        fail(code);
    return statement;
}

void TrendStore::checkTable()
{
    Statement info(prepare("PRAGMA table_info(log)"), sqlite3_finalize);
    QStringList columns;
    int code = SQLITE_ROW;
    while ((code = sqlite3_step(info.get())) == SQLITE_ROW) {
        const std::string_view name = columnText(info.get(), 1);
        columns.append(QString::fromUtf8(name.data(), qsizetype(name.size())));
    }
    if (code != SQLITE_DONE)
        fail(code);
    if (columns.isEmpty())
        throw StationError(ErrorCode::TableMissing,
                           QStringLiteral("Table 'log' not found in %1").arg(m_path));
    for (const char *field : FieldNames) {
        if (!columns.contains(QLatin1String(field), Qt::CaseInsensitive))
            throw StationError(
                ErrorCode::FieldMissing,
                QStringLiteral("Field '%1' not found in table 'log' of %2").arg(field, m_path));
    }
}

qint64 TrendStore::lastRowid()
{
    Statement statement(prepare("SELECT max(rowid) FROM log"), sqlite3_finalize);
    const int code = sqlite3_step(statement.get());
    if (code != SQLITE_ROW)
        fail(code);
    return sqlite3_column_int64(statement.get(), 0);
}

std::optional<RecordKey> TrendStore::key(qint64 rowid)
{
    Statement statement(prepare("SELECT \"Sr No\", TimeAndDate FROM log WHERE rowid = ?"), sqlite3_finalize);
    sqlite3_bind_int64(statement.get(), 1, rowid);
    const int code = sqlite3_step(statement.get());
    if (code == SQLITE_DONE)
        return std::nullopt;
    if (code != SQLITE_ROW)
        fail(code);
    const std::string_view serial = columnText(statement.get(), 0);
    const std::string_view stamp = columnText(statement.get(), 1);
    return RecordKey{rowid, QByteArray(serial.data(), qsizetype(serial.size())),
                     QByteArray(stamp.data(), qsizetype(stamp.size()))};
}

qsizetype TrendStore::readAfter(qint64 rowid, qsizetype limit,
                                const std::function<void(const StoredSample &)> &take)
{
    const QByteArray sql =
        QByteArray("SELECT rowid, ") + SelectFields + " FROM log WHERE rowid > ? ORDER BY rowid LIMIT ?";
    Statement statement(prepare(sql.constData()), sqlite3_finalize);
    sqlite3_bind_int64(statement.get(), 1, rowid);
    sqlite3_bind_int64(statement.get(), 2, limit);
    qsizetype count = 0;
    int code = SQLITE_ROW;
    StoredSample sample;
    while ((code = sqlite3_step(statement.get())) == SQLITE_ROW) {
        sample.rowid = sqlite3_column_int64(statement.get(), 0);
        sample.serial = columnText(statement.get(), 1);
        sample.stamp = columnText(statement.get(), 2);
        for (int s = 0; s < SensorCount; ++s)
            sample.values[s] = columnValue(statement.get(), FirstValueColumn + s);
        take(sample);
        ++count;
    }
    if (code != SQLITE_DONE)
        fail(code);
    return count;
}

QStringList TrendStore::recordTexts(qint64 rowid)
{
    const QByteArray sql = QByteArray("SELECT ") + SelectFields + " FROM log WHERE rowid = ?";
    Statement statement(prepare(sql.constData()), sqlite3_finalize);
    sqlite3_bind_int64(statement.get(), 1, rowid);
    QStringList texts;
    const int code = sqlite3_step(statement.get());
    if (code == SQLITE_DONE)
        return texts;
    if (code != SQLITE_ROW)
        fail(code);
    for (int i = 0; i < FieldCount; ++i) {
        const std::string_view text = columnText(statement.get(), i);
        texts.append(QString::fromUtf8(text.data(), qsizetype(text.size())));
    }
    return texts;
}

void TrendStore::exportRange(qint64 first, qint64 last, QIODevice &out)
{
    const QByteArray sql =
        QByteArray("SELECT ") + SelectFields + " FROM log WHERE rowid BETWEEN ? AND ? ORDER BY rowid";
    Statement statement(prepare(sql.constData()), sqlite3_finalize);
    sqlite3_bind_int64(statement.get(), 1, first);
    sqlite3_bind_int64(statement.get(), 2, last);
    QByteArray buffer = exportHeaderLine();
    auto flush = [&out, &buffer] {
        if (out.write(buffer) != buffer.size())
            throw StationError(ErrorCode::StoreFailed,
                               QStringLiteral("Cannot write the export: %1").arg(out.errorString()));
        buffer.clear();
    };
    QVariantList values(FieldCount);
    int code = SQLITE_ROW;
    while ((code = sqlite3_step(statement.get())) == SQLITE_ROW) {
        for (int i = 0; i < FieldCount; ++i)
            values[i] = columnVariant(statement.get(), i);
        buffer += exportRecordLine(values);
        if (buffer.size() >= ExportBuffer)
            flush();
    }
    if (code != SQLITE_DONE)
        fail(code);
    flush();
}
