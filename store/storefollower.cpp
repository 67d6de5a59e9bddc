#include "store/storefollower.h"

#include "store/logtable.h"
#include "store/storeconnection.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <sqlite3.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace qf {

namespace {

// The columns every record read selects: the rowid, then the fields in
// their order.
constexpr int RowidColumn = 0;
constexpr int FirstFieldColumn = 1;
constexpr int SrNoColumn = FirstFieldColumn + int(schema::Field::SrNo);
constexpr int StampColumn = FirstFieldColumn + int(schema::Field::TimeAndDate);
constexpr int FirstValueColumn = FirstFieldColumn + schema::FirstSensorField;

// The version tag that opens a mark's text.
constexpr char MarkTag[] = "qf-follow-mark-1";
constexpr char NoKey[] = "-";
constexpr auto MarkEncoding = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

std::optional<std::string_view> columnText(sqlite3_stmt *statement, int column)
{
    if (sqlite3_column_type(statement, column) == SQLITE_NULL)
        return std::nullopt;
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    return text ? std::string_view(text, std::size_t(sqlite3_column_bytes(statement, column)))
                : std::string_view();
}

QByteArray bytesOf(const std::optional<std::string_view> &text)
{
    return text ? QByteArray(text->data(), qsizetype(text->size())) : QByteArray();
}

// A number stored as a number, or as a text that is wholly a number; a null
// or any other text is no value.
std::optional<double> columnValue(sqlite3_stmt *statement, int column)
{
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
        return sqlite3_column_double(statement, column);
    case SQLITE_TEXT: {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
        if (!text)
            return std::nullopt;
        const char *end = text + sqlite3_column_bytes(statement, column);
        double value = 0;
        const auto [stop, error] = std::from_chars(text, end, value);
        if (error == std::errc() && stop == end)
            return value;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

// The file a path names: its device and inode.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    uid_t owner = 0;
    bool operator==(const FileIdentity &other) const
    {
        return device == other.device && inode == other.inode;
    }
};

// What the path names now; throws 3024 when it names nothing and 3343 when
// it names no regular file (a FIFO would block the open).
FileIdentity identityOf(const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            throw StationError(ErrorCode::StoreMissing, QStringLiteral("Store file not found: %1").arg(path));
        return {};
    }
    if (!S_ISREG(info.st_mode))
        throw StationError(ErrorCode::StoreNotDatabase, QStringLiteral("Not a database file: %1").arg(path));
    return {info.st_dev, info.st_ino, info.st_uid};
}

bool mayAccess(const QString &path, int mode)
{
    return ::faccessat(AT_FDCWD, QFile::encodeName(path).constData(), mode, AT_EACCESS) == 0;
}

// How this user may read the store. SQLite reads a store in write-ahead-log
// mode through the files -wal and -shm beside it: it reads them when they
// are there (a station holds the store open) and else makes them, as this
// user. A user that may not make them, or that is not the store's owner
// (files it made would keep the station from writing the store; SQLite gives
// files it makes as root to the owner), reads the store as it stands instead:
// while no -wal is there no station writes it, and the follower opens it
// again, sharing the station's files, as soon as one appears.
enum class ReadMode { Shared, UntilAStationStarts };

QString walOf(const QString &path)
{
    return path + QStringLiteral("-wal");
}

ReadMode readModeFor(const QString &path, const FileIdentity &store)
{
    const std::array<QString, 2> sidecars{walOf(path), path + QStringLiteral("-shm")};
    QStringList unreadable;
    bool missing = false;
    for (const QString &file : sidecars) {
        if (!QFileInfo::exists(file))
            missing = true;
        else if (!mayAccess(file, R_OK))
            unreadable.append(file);
    }
    if (!unreadable.isEmpty()) {
        throw StationError(ErrorCode::StoreFailed,
                           QStringLiteral("Store file %1 cannot be followed: SQLite reads it through %1-wal "
                                          "and %1-shm, but this user may not read %2. Run this program as "
                                          "the store's owner or give this user read access to them.")
                               .arg(path, unreadable.join(QStringLiteral(" and "))));
    }
    if (!missing)
        return ReadMode::Shared;
    const uid_t user = ::geteuid();
    const bool mayMake =
        mayAccess(QFileInfo(path).absolutePath(), W_OK) && (user == 0 || user == store.owner);
    return mayMake ? ReadMode::Shared : ReadMode::UntilAStationStarts;
}

// The record a statement stands on, its columns as RowidColumn and on.
void readView(sqlite3_stmt *row, RecordView &view)
{
    view.rowid = sqlite3_column_int64(row, RowidColumn);
    view.srNo = columnText(row, SrNoColumn);
    view.stamp = columnText(row, StampColumn);
    for (int s = 0; s < schema::SensorCount; ++s)
        view.values[std::size_t(s)] = columnValue(row, FirstValueColumn + s);
}

using StatementHandle = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

} // namespace

// ---------------------------------------------------------------- connection

// One read-only connection to the store file with its prepared statements.
struct StoreFollower::Connection {
    QString path;
    FileIdentity file;
    bool untilAStationStarts = false; // opened immutable: no station held the store open
    sqlite3 *db = nullptr;
    StatementHandle begin{nullptr, sqlite3_finalize};
    StatementHandle commit{nullptr, sqlite3_finalize};
    StatementHandle readFrom{nullptr, sqlite3_finalize}; // ?1 first rowid, ?2 limit
    StatementHandle keyAt{nullptr, sqlite3_finalize};
    StatementHandle recordAt{nullptr, sqlite3_finalize};
    StatementHandle newest{nullptr, sqlite3_finalize};
    StatementHandle oldestKey{nullptr, sqlite3_finalize};
    StatementHandle count{nullptr, sqlite3_finalize};

    explicit Connection(QString storePath) : path(std::move(storePath)) {}
    ~Connection()
    {
        for (StatementHandle *statement :
             {&begin, &commit, &readFrom, &keyAt, &recordAt, &newest, &oldestKey, &count})
            statement->reset();
        sqlite3_close(db);
    }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    [[noreturn]] void fail(int code) const
    {
        const int primary = code & 0xff;
        const QString detail = QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(code));
        if (primary == SQLITE_READONLY) // never a write of this connection: SQLite's own files
            throw StationError(ErrorCode::StoreFailed, QStringLiteral("Store file %1: %2").arg(path, detail));
        throw StationError(storeError(path, code, detail));
    }

    StatementHandle prepare(const QByteArray &sql) const
    {
        sqlite3_stmt *statement = nullptr;
        const int code = sqlite3_prepare_v3(db, sql.constData(), int(sql.size()), SQLITE_PREPARE_PERSISTENT,
                                            &statement, nullptr);
        if (code != SQLITE_OK)
            fail(code);
        return {statement, sqlite3_finalize};
    }

    // Steps a statement to its next row: true for a row, false when done.
    bool step(sqlite3_stmt *statement) const
    {
        const int code = sqlite3_step(statement);
        if (code == SQLITE_ROW)
            return true;
        if (code != SQLITE_DONE)
            fail(code);
        return false;
    }

    // The key of the row a statement stands on: rowid, serial number, stamp.
    static RecordKey keyOf(sqlite3_stmt *statement, int rowidColumn)
    {
        return {sqlite3_column_int64(statement, rowidColumn), bytesOf(columnText(statement, rowidColumn + 1)),
                bytesOf(columnText(statement, rowidColumn + 2))};
    }
};

namespace {

// Leaves a statement reset, whatever happens while it is stepped: no
// statement keeps a read transaction open after the call that ran it.
class Running {
public:
    explicit Running(sqlite3_stmt *statement) : m_statement(statement) {}
    ~Running() { sqlite3_reset(m_statement); }
    Running(const Running &) = delete;
    Running &operator=(const Running &) = delete;
    sqlite3_stmt *get() const { return m_statement; }

private:
    sqlite3_stmt *m_statement = nullptr;
};

// One read transaction over several statements, so that they see one
// state of the store; ended when it goes.
class ReadTransaction {
public:
    explicit ReadTransaction(const StoreFollower::Connection &connection) : m_connection(connection)
    {
        Running begin(connection.begin.get());
        connection.step(begin.get());
    }
    ~ReadTransaction()
    {
        if (!sqlite3_get_autocommit(m_connection.db)) {
            Running commit(m_connection.commit.get());
            sqlite3_step(commit.get()); // a read transaction: nothing to lose
        }
    }
    ReadTransaction(const ReadTransaction &) = delete;
    ReadTransaction &operator=(const ReadTransaction &) = delete;

private:
    const StoreFollower::Connection &m_connection;
};

std::optional<RecordKey> readKey(const StoreFollower::Connection &connection, qint64 rowid)
{
    Running statement(connection.keyAt.get());
    sqlite3_bind_int64(statement.get(), 1, rowid);
    if (!connection.step(statement.get()))
        return std::nullopt;
    return StoreFollower::Connection::keyOf(statement.get(), 0);
}

std::optional<qint64> readNewest(const StoreFollower::Connection &connection)
{
    Running statement(connection.newest.get());
    if (!connection.step(statement.get()) || sqlite3_column_type(statement.get(), 0) == SQLITE_NULL)
        return std::nullopt;
    return sqlite3_column_int64(statement.get(), 0);
}

std::optional<RecordKey> readOldestKey(const StoreFollower::Connection &connection)
{
    Running statement(connection.oldestKey.get());
    if (!connection.step(statement.get()))
        return std::nullopt;
    return StoreFollower::Connection::keyOf(statement.get(), 0);
}

QByteArray markPart(const std::optional<RecordKey> &key)
{
    if (!key)
        return NoKey;
    return QByteArray::number(key->rowid) + ':' + key->srNo.toBase64(MarkEncoding) + ':' +
           key->stamp.toBase64(MarkEncoding);
}

// A part written by markPart; false when it is none.
bool parseMarkPart(const QByteArray &part, std::optional<RecordKey> &key)
{
    if (part == NoKey) {
        key.reset();
        return true;
    }
    const QList<QByteArray> fields = part.split(':');
    if (fields.size() != 3)
        return false;
    bool ok = false;
    RecordKey parsed;
    parsed.rowid = fields[0].toLongLong(&ok);
    if (!ok)
        return false;
    constexpr auto options = MarkEncoding | QByteArray::AbortOnBase64DecodingErrors;
    auto srNo = QByteArray::fromBase64Encoding(fields[1], options);
    auto stamp = QByteArray::fromBase64Encoding(fields[2], options);
    if (!srNo || !stamp)
        return false;
    parsed.srNo = *srNo;
    parsed.stamp = *stamp;
    key = parsed;
    return true;
}

} // namespace

// ---------------------------------------------------------------- mark, record

QByteArray FollowMark::toText() const
{
    return QByteArray(MarkTag) + ' ' + markPart(first) + ' ' + markPart(last);
}

std::optional<FollowMark> FollowMark::fromText(const QByteArray &text)
{
    const QList<QByteArray> parts = text.trimmed().split(' ');
    FollowMark mark;
    if (parts.size() != 3 || parts[0] != MarkTag || !parseMarkPart(parts[1], mark.first) ||
        !parseMarkPart(parts[2], mark.last))
        return std::nullopt;
    // A last record needs a first one, at or before it.
    if (mark.last && (!mark.first || mark.last->rowid < mark.first->rowid))
        return std::nullopt;
    return mark;
}

StoredRecord StoredRecord::from(const RecordView &view)
{
    auto text = [](const std::optional<std::string_view> &field) -> std::optional<QString> {
        if (!field)
            return std::nullopt;
        return QString::fromUtf8(field->data(), qsizetype(field->size()));
    };
    return {view.rowid, text(view.srNo), text(view.stamp), view.values};
}

// ---------------------------------------------------------------- follower

std::unique_ptr<StoreFollower::Connection> StoreFollower::open(const QString &path)
{
    auto connection = std::make_unique<Connection>(path);
    connection->file = identityOf(path);
    connection->untilAStationStarts = readModeFor(path, connection->file) == ReadMode::UntilAStationStarts;
    // A file URL encodes '?', '#', '%', spaces and non-ASCII characters;
    // mode=ro never creates the file. immutable=1 only while no station
    // holds the store open (no -wal): the store cannot change then, and the
    // follower opens it again, shared, once a -wal appears.
    QByteArray uri = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded() + "?mode=ro";
    if (connection->untilAStationStarts)
        uri += "&immutable=1";
    const int code = sqlite3_open_v2(uri.constData(), &connection->db,
                                     SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    if (code != SQLITE_OK)
        connection->fail(code);
    sqlite3_extended_result_codes(connection->db, 1);
    sqlite3_busy_timeout(connection->db, int(StoreBusyWait.count()));

    LogTableShape shape;
    {
        StatementHandle describe = connection->prepare(LogTableShapeSql);
        const QByteArray table = QString(schema::LogTable).toUtf8();
        sqlite3_bind_text(describe.get(), 1, table.constData(), int(table.size()), SQLITE_TRANSIENT);
        while (connection->step(describe.get())) {
            const std::optional<std::string_view> type = columnText(describe.get(), 0);
            shape.add(QString::fromUtf8(bytesOf(type)),
                      QString::fromUtf8(bytesOf(columnText(describe.get(), 1))));
        }
    }
    checkLogTableShape(path, shape);

    const QByteArray rowid = rowidName(shape.columns).toUtf8();
    const QByteArray table = quotedName(schema::LogTable).toUtf8();
    QByteArray fields;
    for (const QLatin1String field : schema::FieldNames)
        fields += ", " + quotedName(field).toUtf8();
    const QByteArray srNo = quotedName(schema::fieldName(schema::Field::SrNo)).toUtf8();
    const QByteArray stamp = quotedName(schema::fieldName(schema::Field::TimeAndDate)).toUtf8();
    const QByteArray key = rowid + ", " + srNo + ", " + stamp;

    connection->begin = connection->prepare("BEGIN");
    connection->commit = connection->prepare("COMMIT");
    connection->readFrom = connection->prepare("SELECT " + rowid + fields + " FROM " + table + " WHERE " +
                                               rowid + " >= ?1 ORDER BY " + rowid + " LIMIT ?2");
    connection->keyAt = connection->prepare("SELECT " + key + " FROM " + table + " WHERE " + rowid + " = ?1");
    connection->recordAt =
        connection->prepare("SELECT " + rowid + fields + " FROM " + table + " WHERE " + rowid + " = ?1");
    connection->newest = connection->prepare("SELECT max(" + rowid + ") FROM " + table);
    connection->oldestKey =
        connection->prepare("SELECT " + key + " FROM " + table + " ORDER BY " + rowid + " LIMIT 1");
    connection->count = connection->prepare("SELECT count(*) FROM " + table);
    return connection;
}

StoreFollower::StoreFollower(const QString &storePath, FollowMark mark)
    : m_path(storePath), m_mark(std::move(mark)), m_db(open(storePath))
{
}

StoreFollower::~StoreFollower() = default;

void StoreFollower::reopenIfReplaced()
{
    const FileIdentity now = identityOf(m_path);
    if (now == m_db->file && !(m_db->untilAStationStarts && QFileInfo::exists(walOf(m_path))))
        return;
    // Opened before the old connection goes: a file that is no store throws
    // and leaves the follower as it was.
    m_db = open(m_path);
}

bool StoreFollower::markHolds()
{
    if (m_mark.last && readKey(*m_db, m_mark.last->rowid) != m_mark.last)
        return false;
    return !m_mark.first || readKey(*m_db, m_mark.first->rowid) == m_mark.first;
}

std::optional<qint64> StoreFollower::firstAfterMark() const
{
    if (m_mark.last) {
        if (m_mark.last->rowid == RowidLimit)
            return std::nullopt;
        return m_mark.last->rowid + 1;
    }
    if (m_mark.first)
        return m_mark.first->rowid;
    return std::numeric_limits<qint64>::min();
}

void StoreFollower::skipToNewest()
{
    ReadTransaction transaction(*m_db);
    const std::optional<qint64> newest = readNewest(*m_db);
    m_mark.first = readOldestKey(*m_db);
    m_mark.last = newest ? readKey(*m_db, *newest) : std::nullopt;
}

StoreChange StoreFollower::poll()
{
    reopenIfReplaced();
    ReadTransaction transaction(*m_db);
    const std::optional<qint64> newest = readNewest(*m_db);
    if (newest == RowidLimit)
        throw StationError(ErrorCode::StoreFailed, rowidsExhaustedText(m_path));
    if (!markHolds()) {
        m_mark = {readOldestKey(*m_db), std::nullopt};
        return StoreChange::Restarted;
    }
    const std::optional<qint64> from = firstAfterMark();
    return newest && from && *newest >= *from ? StoreChange::Appended : StoreChange::None;
}

qsizetype StoreFollower::read(qint64 from, qsizetype limit, const Sink &take, bool moveMark)
{
    if (limit <= 0)
        return 0;
    Running statement(m_db->readFrom.get());
    sqlite3_bind_int64(statement.get(), 1, from);
    sqlite3_bind_int64(statement.get(), 2, limit);
    qsizetype count = 0;
    qint64 lastTaken = 0;
    // The mark moves past every record take has returned from, also when it
    // throws for a later one.
    auto moveMarkPast = [&] {
        if (moveMark && count > 0)
            m_mark.last = readKey(*m_db, lastTaken);
    };
    try {
        RecordView view;
        while (m_db->step(statement.get())) {
            readView(statement.get(), view);
            if (moveMark && !m_mark.first)
                m_mark.first = RecordKey{view.rowid, bytesOf(view.srNo), bytesOf(view.stamp)};
            take(view);
            lastTaken = view.rowid;
            ++count;
        }
    } catch (...) {
        sqlite3_reset(statement.get());
        moveMarkPast();
        throw;
    }
    sqlite3_reset(statement.get());
    moveMarkPast();
    return count;
}

qsizetype StoreFollower::next(qsizetype limit, const Sink &take)
{
    ReadTransaction transaction(*m_db);
    // A delete-all since the last poll: nothing is read, and the next poll
    // says Restarted.
    const std::optional<qint64> from = firstAfterMark();
    if (!from || !markHolds())
        return 0;
    return read(*from, limit, take, true);
}

std::vector<StoredRecord> StoreFollower::next(qsizetype limit)
{
    std::vector<StoredRecord> records;
    next(limit, [&records](const RecordView &view) { records.push_back(StoredRecord::from(view)); });
    return records;
}

qint64 StoreFollower::newestRowid()
{
    return readNewest(*m_db).value_or(0);
}

qint64 StoreFollower::recordCount()
{
    Running statement(m_db->count.get());
    return m_db->step(statement.get()) ? sqlite3_column_int64(statement.get(), 0) : 0;
}

std::optional<RecordKey> StoreFollower::keyAt(qint64 rowid)
{
    return readKey(*m_db, rowid);
}

std::optional<StoredRecord> StoreFollower::recordAt(qint64 rowid)
{
    std::optional<StoredRecord> record;
    Running statement(m_db->recordAt.get());
    sqlite3_bind_int64(statement.get(), 1, rowid);
    if (m_db->step(statement.get())) {
        RecordView view;
        readView(statement.get(), view);
        record = StoredRecord::from(view);
    }
    return record;
}

qsizetype StoreFollower::readAfter(qint64 after, qsizetype limit, const Sink &take)
{
    if (after == RowidLimit)
        return 0;
    ReadTransaction transaction(*m_db);
    return read(after + 1, limit, take, false);
}

} // namespace qf
