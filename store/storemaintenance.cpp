#include "store/storemaintenance.h"

#include "common/error.h"
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

QString fieldList()
{
    QStringList fields;
    for (const QLatin1String field : LogFieldNames)
        fields.append(quotedName(field));
    return fields.join(QLatin1String(", "));
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
    return QDir(dir).filePath(QStringLiteral("velk.mdb"));
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
        connection
            .exec(
                QStringLiteral("CREATE TABLE log (\"Sr No\" TEXT, TimeAndDate TEXT, Temp1 REAL, Temp2 REAL, "
                               "Temp3 REAL, Temp4 REAL)"))
            .finish();
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
    checkLogTable(connection, QStringLiteral("log"));
    connection.scalar(QStringLiteral("PRAGMA journal_mode=WAL"));

    const qint64 first = connection.scalar(QStringLiteral("SELECT count(*) FROM log")).toLongLong() + 1;
    // Local wall-clock seconds, so that datetime(..., 'unixepoch') gives local time.
    const QDateTime now = QDateTime::currentDateTime();
    const qint64 localNow = now.toSecsSinceEpoch() + now.offsetFromUtc();
    const qint64 timeBase = localNow - count - first + 1; // record i is stamped timeBase + i

    QSqlQuery insert = connection.prepare(
        QStringLiteral("WITH RECURSIVE s(i) AS (SELECT ? UNION ALL SELECT i + 1 FROM s WHERE i < ?) "
                       "INSERT INTO log (%1) "
                       "SELECT CAST(i AS TEXT), datetime(? + i, 'unixepoch'), 20 + (i % 150) / 10.0, "
                       "30 + (i * 7 % 150) / 10.0, 15 + (i * 13 % 200) / 10.0, (i * 17 % 1000) / 10.0 FROM s")
            .arg(fieldList()));
    for (qint64 done = 0; done < count;) {
        const qint64 n = std::min(FillBatch, count - done);
        const qint64 from = first + done;
        connection.exec(QStringLiteral("BEGIN IMMEDIATE")).finish();
        try {
            connection.run(insert, {from, from + n - 1, timeBase});
            insert.finish();
            connection.exec(QStringLiteral("COMMIT")).finish();
        } catch (const StationError &) {
            insert.finish();
            connection.exec(QStringLiteral("ROLLBACK")).finish();
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
    checkLogTable(connection, QStringLiteral("log"));

    QByteArray buffer;
    buffer.reserve(ExportBuffer * 2);
    auto flush = [&out, &buffer] {
        if (out.write(buffer) != buffer.size())
            throw StationError(ErrorCode::StoreFailed,
                               QStringLiteral("Cannot write the export: %1").arg(out.errorString()));
        buffer.clear();
    };

    buffer += exportHeaderLine();
    QSqlQuery query = connection.exec(QStringLiteral("SELECT %1 FROM log ORDER BY rowid").arg(fieldList()));
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
        checkLogTable(connection, QStringLiteral("log"));
    } catch (const StationError &e) {
        problems.append(e.error().description);
    }
    return problems;
}
