#include "store/storemaintenance.h"

#include "common/error.h"
#include "store/logcount.h"
#include "store/logstore.h"
#include "store/logtable.h"
#include "store/storeconnection.h"
#include "store/storetext.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace qf {

namespace {

constexpr qint64 FillBatch = 200000;
constexpr qsizetype ExportBuffer = 1 << 16;
// How often a read of the store as an immutable file is tried again when a
// writer changed the file meanwhile.
constexpr int UntouchedReadTries = 3;
// The first bytes of a rollback journal that holds a transaction.
constexpr std::array<unsigned char, 8> JournalMagic{0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7};

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

// Opens path as the station does, lists its records and appends one
// numbered serial, and reads it back, inside a transaction that is rolled
// back.
void listAndAppend(const QString &path, const QString &serial)
{
    const std::unique_ptr<LogDatabase> database = LogDatabase::OpenDatabase(path);
    const std::shared_ptr<LogRecordset> records = database->OpenRecordset();
    records->ReadRows(0, records->RecordCount());
    database->Execute(QStringLiteral("BEGIN IMMEDIATE"));
    try {
        records->AddNew();
        records->Fields().Item(LogFieldNames.front()).setValue(serial);
        records->Fields().Item(LogFieldNames.at(TimeAndDateField)).setValue(QDateTime::currentDateTime());
        for (int i = TimeAndDateField + 1; i < LogFieldCount; ++i)
            records->Fields().Item(LogFieldNames.at(i)).setValue(0.0);
        records->Update();
        records->MoveLast();
        if (records->Fields().Item(LogFieldNames.front()).Value().toString() != serial)
            throw StationError(ErrorCode::StoreFailed,
                               QStringLiteral("the appended record does not read back"));
    } catch (const StationError &) {
        rollBack(*database);
        throw;
    }
    rollBack(*database);
}

// The columns of table that a row can be given (generated ones aside).
QStringList writableColumns(const StoreConnection &connection, const QString &table)
{
    QSqlQuery info = connection.exec(QStringLiteral("PRAGMA table_xinfo(%1)").arg(quotedName(table)));
    QStringList columns;
    while (info.next()) {
        if (info.value(6).toInt() == 0)
            columns.append(info.value(1).toString());
    }
    info.finish();
    return columns;
}

// Copies the rows of table that match where from one store to another.
void copyRows(const StoreConnection &from, const StoreConnection &to, const QString &table,
              const QString &where = {}, const QVariantList &values = {})
{
    QStringList columns = writableColumns(from, table);
    const QStringList marks(columns.size(), QStringLiteral("?"));
    for (QString &column : columns)
        column = quotedName(column);
    QSqlQuery rows = from.exec(
        QStringLiteral("SELECT %1 FROM %2 %3").arg(columns.join(QLatin1Char(',')), quotedName(table), where),
        values);
    QSqlQuery insert =
        to.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                       .arg(quotedName(table), columns.join(QLatin1Char(',')), marks.join(QLatin1Char(','))));
    QVariantList row(columns.size());
    while (rows.next()) {
        for (int i = 0; i < row.size(); ++i)
            row[i] = rows.value(i);
        to.run(insert, row);
    }
    insert.finish();
    rows.finish();
}

// Makes the store scratch (an empty file) what an append of the record
// numbered serial meets in the store read through store: its schema, the
// rows of its other tables, and of table log the last record and those
// numbered serial. Indexes, views and triggers come after the rows, so that
// the copy runs no trigger; a virtual table makes its shadow tables itself.
void copyForAppend(const StoreConnection &store, const QString &scratch, const QString &serial)
{
    StoreConnection copy(scratch);
    copy.exec(QStringLiteral("BEGIN")).finish();
    QSqlQuery schema = store.exec(
        QStringLiteral("SELECT type, name, sql FROM sqlite_master WHERE sql NOT NULL "
                       "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' AND name NOT IN "
                       "(SELECT name FROM pragma_table_list WHERE schema = 'main' AND type = 'shadow') "
                       "ORDER BY type <> 'table', rowid"));
    QStringList tables, after;
    while (schema.next()) {
        if (schema.value(0).toString() != QLatin1String("table")) {
            after.append(schema.value(2).toString());
            continue;
        }
        copy.exec(schema.value(2).toString()).finish();
        tables.append(schema.value(1).toString());
    }
    schema.finish();
    if (!store.scalar(QStringLiteral("SELECT 1 FROM sqlite_master WHERE name = 'sqlite_sequence'")).isNull())
        tables.append(QStringLiteral("sqlite_sequence"));
    for (const QString &table : tables) {
        if (table.compare(qf::schema::LogTable, Qt::CaseInsensitive) != 0) {
            copyRows(store, copy, table);
            continue;
        }
        // The name under which the rowid reads: the first of SQLite's three
        // that no column has taken.
        const QStringList columns = writableColumns(store, table);
        QString rowid = QStringLiteral("rowid");
        for (const QString &name : {QStringLiteral("_rowid_"), QStringLiteral("oid")}) {
            if (columns.contains(rowid, Qt::CaseInsensitive))
                rowid = name;
        }
        copyRows(
            store, copy, table,
            QStringLiteral("WHERE %1 = (SELECT max(%1) FROM %2) OR %3 = ?")
                .arg(rowid, quotedName(table), quotedName(qf::schema::fieldName(qf::schema::Field::SrNo))),
            {serial});
    }
    for (const QString &sql : after)
        copy.exec(sql).finish();
    copy.exec(QStringLiteral("COMMIT")).finish();
}

// What stat() tells of a file that a write changes: which file it is, its
// size and its times of change.
struct FileState {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;
    bool operator==(const FileState &) const = default;
};

std::optional<FileState> fileState(const QString &path)
{
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    constexpr qint64 NsPerSecond = 1000000000;
    return FileState{status.st_dev, status.st_ino, status.st_size,
                     status.st_mtim.tv_sec * NsPerSecond + status.st_mtim.tv_nsec,
                     status.st_ctim.tv_sec * NsPerSecond + status.st_ctim.tv_nsec};
}

// Whether the rollback journal beside the store holds a transaction: one
// that a program is writing, or stopped in the middle of.
bool journalHoldsTransaction(const QString &path)
{
    QFile journal(path + QStringLiteral("-journal"));
    if (!QFileInfo(journal).isFile() || !journal.open(QIODevice::ReadOnly))
        return false;
    return journal.read(JournalMagic.size()) ==
           QByteArray(reinterpret_cast<const char *>(JournalMagic.data()), JournalMagic.size());
}

// What keeps the store from being read as it stands without writing a file
// beside it; the station's start mends it, and so does repairStore.
std::optional<QString> pendingMend(const QString &path)
{
    if (journalHoldsTransaction(path)) {
        return QStringLiteral(
                   "The store file %1 has a transaction in %1-journal that a program is writing or "
                   "stopped in the middle of; the station's next start (or quillfern-store repair) "
                   "rolls it back")
            .arg(path);
    }
    const QString wal = path + QStringLiteral("-wal");
    const QString shm = path + QStringLiteral("-shm");
    if (QFileInfo(wal).size() > 0 && !QFileInfo::exists(shm)) {
        return QStringLiteral(
                   "The write-ahead log %1 has no %2 beside it to be read through; the station's next "
                   "start (or quillfern-store repair) takes its records into the store")
            .arg(wal, shm);
    }
    return std::nullopt;
}

// Runs read on a connection to the store that writes no file at all. When
// the write-ahead log and its shared memory are there (a station runs, or
// stopped without closing), SQLite keeps read's snapshot of both while
// others write; otherwise read sees the store file as immutable, and runs
// again when a program wrote the file meanwhile.
void readUntouched(const QString &path, const std::function<void(const StoreConnection &)> &read)
{
    const QString shm = path + QStringLiteral("-shm");
    for (int tries = 0; tries < UntouchedReadTries; ++tries) {
        if (const std::optional<QString> mend = pendingMend(path))
            throw StationError(ErrorCode::StoreFailed, *mend);
        if (QFileInfo::exists(path + QStringLiteral("-wal")) && QFileInfo::exists(shm)) {
            try {
                const StoreConnection connection(path, StoreConnection::Access::ReadOnlyWal);
                read(connection);
                return;
            } catch (const StationError &) {
                if (QFileInfo::exists(shm))
                    throw;
                continue; // the last connection closed meanwhile, removing both
            }
        }
        const std::optional<FileState> before = fileState(path);
        {
            const StoreConnection connection(path, StoreConnection::Access::Immutable);
            read(connection);
        }
        if (fileState(path) == before)
            return;
    }
    throw StationError(
        ErrorCode::StoreBusy,
        QStringLiteral("The store file %1 was written whenever it was read; try again").arg(path));
}

// The problems of the store read through connection.
QStringList problemsOf(const StoreConnection &connection)
{
    QStringList problems;
    QSqlQuery integrity = connection.exec(QStringLiteral("PRAGMA integrity_check"));
    while (integrity.next()) {
        const QString line = integrity.value(0).toString();
        if (line != QLatin1String("ok"))
            problems.append(line);
    }
    integrity.finish();
    try {
        checkLogTable(connection);
    } catch (const StationError &e) {
        problems.append(e.error().description);
        return problems;
    }
    problems += checkRecordCount(connection);
    if (qf::rowidsExhausted(connection))
        problems.append(qf::rowidsExhaustedText(connection.path()));
    if (serialIsRowid(connection)) {
        problems.append(QStringLiteral("Field '%1' is the INTEGER PRIMARY KEY of table '%2': the station "
                                       "numbers records by their row in the grid, and cannot append a record "
                                       "numbered like one the table holds")
                            .arg(qf::schema::fieldName(qf::schema::Field::SrNo), qf::schema::LogTable));
    }
    // The station's append, tried on a copy of what it meets in the store.
    const QString serial = QString::number(
        connection.scalar(QStringLiteral("SELECT count(*) FROM %1").arg(qf::schema::LogTable)).toLongLong() +
        1);
    const QTemporaryDir scratch;
    const QString copy = scratch.filePath(storeFileName);
    try {
        QFile file(copy);
        if (!scratch.isValid() || !file.open(QIODevice::WriteOnly))
            throw StationError(ErrorCode::StoreFailed,
                               QStringLiteral("no scratch file to try it on: %1").arg(file.errorString()));
        file.close();
        copyForAppend(connection, copy, serial);
        listAndAppend(copy, serial);
    } catch (const StationError &e) {
        problems.append(QStringLiteral("The station cannot append records: %1")
                            .arg(QString(e.error().description).replace(copy, connection.path())));
    }
    return problems;
}

// Moves the finished file from onto the new name to (never over a file that
// is there) and makes both durable.
void publish(const QString &from, const QString &to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) != 0) {
        // A file system without the no-replace rename: a link refuses a name taken, too.
        if ((errno != EINVAL && errno != ENOSYS) || ::link(source.constData(), target.constData()) != 0) {
            const int error = errno;
            throw StationError(ErrorCode::StoreFailed,
                               QStringLiteral("Cannot name the backup file %1: %2")
                                   .arg(to, QString::fromLocal8Bit(std::strerror(error))));
        }
        ::unlink(source.constData());
    }
    const int dir =
        ::open(QFile::encodeName(QFileInfo(to).absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
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
    checkLogTable(connection);
    connection.scalar(QStringLiteral("PRAGMA journal_mode=WAL"));

    const qint64 first = readLogExtent(connection, QStringLiteral("rowid")).count + 1;
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
    checkLogTable(connection);

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
    if (const std::optional<QString> mend = pendingMend(path))
        return {*mend};
    QStringList problems;
    readUntouched(path,
                  [&problems](const StoreConnection &connection) { problems = problemsOf(connection); });
    const QFileInfo file(path);
    constexpr QFile::Permissions anyWrite = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    if (!file.isWritable() || !(file.permissions() & anyWrite))
        problems.append(
            QStringLiteral("The store file %1 is read-only: the station lists its records but cannot add one")
                .arg(path));
    return problems;
}

void repairStore(const QString &path)
{
    StoreConnection connection(path);
    checkLogTable(connection);
    connection.scalar(QStringLiteral("PRAGMA journal_mode=WAL"));
    connection.exec(QStringLiteral("BEGIN IMMEDIATE")).finish();
    try {
        rebuildRecordCount(connection);
        connection.exec(QStringLiteral("COMMIT")).finish();
    } catch (const StationError &) {
        rollBack(connection);
        throw;
    }
}

void backupStore(const QString &path, const QString &dest)
{
    const QFileInfo target(dest);
    if (dest.isEmpty())
        throw StationError(ErrorCode::StoreFailed, QStringLiteral("No backup file named"));
    if (target.isSymLink())
        throw StationError(
            ErrorCode::StoreFailed,
            QStringLiteral("The backup file %1 is a symbolic link; name a new file").arg(dest));
    if (target.exists())
        throw StationError(ErrorCode::StoreFailed,
                           QStringLiteral("The backup file %1 exists already").arg(dest));
    // Written under a name of its own beside dest, and named dest only when
    // whole and on the disk: a failure leaves nothing.
    QTemporaryFile part(target.absoluteFilePath() + QStringLiteral(".partial-XXXXXX"));
    if (!part.open())
        throw StationError(
            ErrorCode::StoreFailed,
            QStringLiteral("Cannot make the backup file %1: %2").arg(dest, part.errorString()));
    part.setPermissions(QFileInfo(path).permissions());
    const QString journal = part.fileName() + QStringLiteral("-journal");
    try {
        readUntouched(path, [&](const StoreConnection &connection) {
            checkLogTable(connection);
            // VACUUM INTO writes an empty file only (a try before may have
            // left a part and its journal).
            QFile::remove(journal);
            part.resize(0);
            // One read transaction: the copy is the store as of one moment.
            connection.exec(QStringLiteral("VACUUM INTO ") + quotedText(part.fileName())).finish();
        });
        if (::fsync(part.handle()) != 0) {
            const int error = errno;
            throw StationError(error == ENOSPC ? ErrorCode::StoreFull : ErrorCode::StoreFailed,
                               QStringLiteral("Cannot write the backup file %1: %2")
                                   .arg(dest, QString::fromLocal8Bit(std::strerror(error))));
        }
    } catch (const StationError &e) {
        QFile::remove(journal);
        if (e.error().code != ErrorCode::StoreFull)
            throw;
        throw StationError(ErrorCode::StoreFull,
                           QStringLiteral("The disk that holds the backup file %1 is full").arg(dest));
    }
    publish(part.fileName(), target.absoluteFilePath());
    part.setAutoRemove(false);
}

} // namespace qf
