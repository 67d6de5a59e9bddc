#include "store/storemaintenance.h"

#include "common/error.h"
#include "store/logcount.h"
#include "store/logstore.h"
#include "store/storeconnection.h"
#include "store/storetext.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>

#include <algorithm>

namespace {

constexpr qint64 FillBatch = 200000;
constexpr qsizetype ExportBuffer = 1 << 16;

void removeStoreFiles(const QString &path)
{
    for (const QString &suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(path + suffix);
}

// Ends a transaction that failed; SQLite may have rolled it back already (a
// full disk does), so that the failure that counts is the one in hand.
void rollBack(const StoreConnection &connection)
{
    try {
        connection.exec(QStringLiteral("ROLLBACK")).finish();
    } catch (const StationError &) {
    }
}

void rollBack(LogDatabase &database)
{
    try {
        database.Execute(QStringLiteral("ROLLBACK"));
    } catch (const StationError &) {
    }
}

// Whether the serial number is the table's INTEGER PRIMARY KEY, that is its rowid.
bool serialIsRowid(const StoreConnection &connection)
{
    QSqlQuery info = connection.exec(QStringLiteral("PRAGMA table_info(log)"));
    int keys = 0;
    bool serialKey = false;
    while (info.next()) {
        if (info.value(5).toInt() == 0)
            continue;
        ++keys;
        serialKey = info.value(1).toString().compare(LogFieldNames.front(), Qt::CaseInsensitive) == 0 &&
                    info.value(2).toString().compare(QLatin1String("INTEGER"), Qt::CaseInsensitive) == 0;
    }
    info.finish();
    return keys == 1 && serialKey;
}

// Lists the records and appends one as the station does, and reads it back,
// inside a transaction that is rolled back.
void listAndAppend(const QString &path)
{
    const std::unique_ptr<LogDatabase> database = LogDatabase::OpenDatabase(path);
    const std::shared_ptr<LogRecordset> records = database->OpenRecordset();
    const qint64 count = records->RecordCount();
    records->ReadRows(0, count);
    database->Execute(QStringLiteral("BEGIN IMMEDIATE"));
    try {
        records->AddNew();
        records->Fields().Item(LogFieldNames.front()).setValue(QString::number(count + 1));
        records->Fields().Item(LogFieldNames.at(TimeAndDateField)).setValue(QDateTime::currentDateTime());
        for (int i = TimeAndDateField + 1; i < LogFieldCount; ++i)
            records->Fields().Item(LogFieldNames.at(i)).setValue(0.0);
        records->Update();
        records->MoveLast();
        if (records->Fields().Item(LogFieldNames.front()).Value().toString() != QString::number(count + 1))
            throw StationError(ErrorCode::StoreFailed,
                               QStringLiteral("the appended record does not read back"));
    } catch (const StationError &) {
        rollBack(*database);
        throw;
    }
    rollBack(*database);
}

QByteArray csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\r')) && !text.contains(QLatin1Char('\n')))
        return text.toUtf8();
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return '"' + quoted.toUtf8() + '"';
}

QString csvText(const QVariant &value, bool dateTime)
{
    if (value.isNull())
        return {};
    switch (value.typeId()) {
    case QMetaType::Double:
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QMetaType::LongLong:
    case QMetaType::Int:
        return QString::number(value.toLongLong());
    default:
        break;
    }
    const QString text = value.toString();
    if (dateTime) {
        const QDateTime parsed = parseStoredDateTime(text);
        if (parsed.isValid())
            return parsed.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    }
    return text;
}

} // namespace

QString storeFilePath(const QString &dir)
{
    return QDir(dir).filePath(storeFileName);
}

CreateResult createStore(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        if (QFileInfo::exists(path))
            return CreateResult::AlreadyExists;
        throw StationError(
            ErrorCode::StoreFailed,
            QStringLiteral("Cannot create the store file %1: %2").arg(path, file.errorString()));
    }
    file.close();
    try {
        StoreConnection connection(path);
        connection.exec(qf::schema::CreateLogTable).finish();
        rebuildRecordCount(connection);
        connection.scalar(QStringLiteral("PRAGMA journal_mode=WAL"));
    } catch (const StationError &) {
        removeStoreFiles(path);
        throw;
    }
    return CreateResult::Created;
}

void fillStore(const QString &path, qint64 count, const std::function<void(qint64)> &progress)
{
    StoreConnection connection(path);
    checkLogTable(connection, qf::schema::LogTable);
    connection.scalar(QStringLiteral("PRAGMA journal_mode=WAL"));

    const qint64 first = readLogExtent(connection, qf::schema::LogTable, QStringLiteral("rowid")).count + 1;
    // Local wall-clock seconds, so that datetime(..., 'unixepoch') gives local time.
    const QDateTime now = QDateTime::currentDateTime();
    const qint64 localNow = now.toSecsSinceEpoch() + now.offsetFromUtc();
    const qint64 timeBase = localNow - count - first + 1; // record i is stamped timeBase + i

    QSqlQuery insert = connection.prepare(
        QStringLiteral("WITH RECURSIVE s(i) AS (SELECT ? UNION ALL SELECT i + 1 FROM s WHERE i < ?) "
                       "INSERT INTO log (%1) "
                       "SELECT CAST(i AS TEXT), datetime(? + i, 'unixepoch'), 20 + (i % 150) / 10.0, "
                       "30 + (i * 7 % 150) / 10.0, 15 + (i * 13 % 200) / 10.0, (i * 17 % 1000) / 10.0 FROM s")
            .arg(quotedLogFields()));
    for (qint64 done = 0; done < count;) {
        const qint64 n = std::min(FillBatch, count - done);
        const qint64 from = first + done;
        connection.exec(QStringLiteral("BEGIN IMMEDIATE")).finish();
        try {
            appendUncounted(connection, n, [&] {
                connection.run(insert, {from, from + n - 1, timeBase});
                insert.finish();
            });
            connection.exec(QStringLiteral("COMMIT")).finish();
        } catch (const StationError &) {
            insert.finish();
            rollBack(connection);
            throw;
        }
        done += n;
        if (progress)
            progress(done);
    }
}

void exportStore(const QString &path, QIODevice &out)
{
    StoreConnection connection(path);
    checkLogTable(connection, qf::schema::LogTable);

    QByteArray buffer;
    buffer.reserve(ExportBuffer * 2);
    auto flush = [&out, &buffer] {
        if (out.write(buffer) != buffer.size())
            throw StationError(ErrorCode::StoreFailed,
                               QStringLiteral("Cannot write the export: %1").arg(out.errorString()));
        buffer.clear();
    };

    buffer += exportHeaderLine();
    QSqlQuery query =
        connection.exec(QStringLiteral("SELECT %1 FROM log ORDER BY rowid").arg(quotedLogFields()));
    QVariantList values(LogFieldCount);
    while (query.next()) {
        for (int i = 0; i < LogFieldCount; ++i)
            values[i] = query.value(i);
        buffer += exportRecordLine(values);
        if (buffer.size() >= ExportBuffer)
            flush();
    }
    if (query.lastError().isValid())
        throw StationError(connection.error(query.lastError()));
    query.finish();
    flush();
}

QByteArray exportHeaderLine()
{
    QStringList header;
    for (const QLatin1String field : LogFieldNames)
        header.append(field);
    return header.join(QLatin1Char(',')).toUtf8() + "\r\n";
}

QByteArray exportRecordLine(const QVariantList &values)
{
    QByteArray line;
    for (int i = 0; i < values.size(); ++i) {
        if (i > 0)
            line += ',';
        line += csvField(csvText(values.at(i), i == TimeAndDateField));
    }
    return line + "\r\n";
}

QStringList checkStore(const QString &path)
{
    StoreConnection connection(path);
    QStringList problems;
    QSqlQuery integrity = connection.exec(QStringLiteral("PRAGMA integrity_check"));
    while (integrity.next()) {
        const QString line = integrity.value(0).toString();
        if (line != QLatin1String("ok"))
            problems.append(line);
    }
    integrity.finish();
    try {
        checkLogTable(connection, qf::schema::LogTable);
    } catch (const StationError &e) {
        problems.append(e.error().description);
        return problems;
    }
    problems += checkRecordCount(connection); // before the station's open below rebuilds a stale one
    if (serialIsRowid(connection)) {
        problems.append(QStringLiteral("Field '%1' is the INTEGER PRIMARY KEY of table '%2': the station "
                                       "numbers records by their row in the grid, and cannot append a record "
                                       "numbered like one the table holds")
                            .arg(qf::schema::fieldName(qf::schema::Field::SrNo), qf::schema::LogTable));
    }
    try {
        listAndAppend(path);
    } catch (const StationError &e) {
        problems.append(
            QStringLiteral("The station cannot list and append records: %1").arg(e.error().description));
    }
    return problems;
}

void backupStore(const QString &path, const QString &dest)
{
    if (QFileInfo::exists(dest))
        throw StationError(ErrorCode::StoreFailed,
                           QStringLiteral("The backup file %1 exists already").arg(dest));
    StoreConnection connection(path);
    checkLogTable(connection, qf::schema::LogTable);
    // One read transaction: the copy is the store as of one moment.
    connection.exec(QStringLiteral("VACUUM INTO ") + quotedText(QFileInfo(dest).absoluteFilePath())).finish();
}
