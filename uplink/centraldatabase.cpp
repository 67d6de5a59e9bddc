#include "uplink/centraldatabase.h"

#include <libpq-fe.h>

#include <array>
#include <charconv>
#include <cmath>
#include <memory>

namespace qf {
namespace {

// Settings around the caller's connection string (dbname, expanded): those
// before it may be overridden by it (a dead server is noticed within
// seconds, not minutes), those after it may not.
constexpr std::array<const char *, 7> ConnectKeys{
    "connect_timeout",  "keepalives_idle", "keepalives_interval", "keepalives_count",
    "application_name", "dbname",          "client_encoding"};
constexpr std::size_t ConninfoKey = 5;
constexpr std::array<const char *, 7> ConnectValues{"10",    "10",  "5", "3", "quillfern-uplink",
                                                    nullptr, "UTF8"};

// What a refused login or a connection string that names what is not there
// says (libpq tells it as text only).
constexpr std::array<const char *, 8> RefusedConnection{"authentication failed", "no password supplied",
                                                        "pg_hba.conf",           "does not exist",
                                                        "permission denied",     "invalid",
                                                        "unrecognized",          "definition of service"};

// SQLSTATE classes: a broken connection; faults no retry mends
// (authorisation, unknown database, syntax and access rules); faults of the
// rows' values (data, integrity, an exception raised in PL/pgSQL).
constexpr const char *ConnectionClass = "08";
constexpr std::array<const char *, 3> RefusedClasses{"28", "3D", "42"};
constexpr std::array<const char *, 3> RecordClasses{"22", "23", "P0"};

constexpr const char *PositionTable = "quillfern_uplink_position";
constexpr const char *PositionColumns = "(station text NOT NULL,"
                                        " source text NOT NULL,"
                                        " generation integer NOT NULL,"
                                        " mark bytea NOT NULL,"
                                        " PRIMARY KEY (station, source))";
// Uplinks that make a table take turns: the second finds it made.
constexpr const char *CreateTable = "BEGIN; SELECT pg_advisory_xact_lock(hashtext('quillfern-uplink'));"
                                    " CREATE TABLE IF NOT EXISTS %1 %2; COMMIT";
constexpr const char *SessionCheck =
    "SELECT pg_is_in_recovery(), current_setting('transaction_read_only') = 'on'";
enum SessionColumn { InRecovery, ReadOnly };
constexpr const char *TableMissing = "SELECT to_regclass($1) IS NULL";
constexpr const char *SelectPosition =
    "SELECT generation, mark FROM quillfern_uplink_position WHERE station = $1 AND source = $2";
constexpr const char *InsertPosition = "INSERT INTO quillfern_uplink_position VALUES ($1, $2, $3, $4)"
                                       " ON CONFLICT DO NOTHING";
// The rows go in only when the position moves: both or neither.
constexpr const char *MovePosition =
    "WITH moved AS (UPDATE quillfern_uplink_position SET generation = $3, mark = $4"
    " WHERE station = $1 AND source = $2 AND generation = $5 AND mark = $6 RETURNING 1),"
    " inserted AS (%1 WHERE EXISTS (SELECT FROM moved) ON CONFLICT DO NOTHING)"
    " SELECT count(*) FROM moved";
enum PositionParam {
    StationParam,
    SourceParam,
    GenerationParam,
    MarkParam,
    FromGenerationParam,
    FromMarkParam
};
constexpr int PositionParams = 6;
// Types of the position's parameters (text, integer, bytea); marks travel
// as bytes.
constexpr std::array<unsigned, PositionParams> PositionTypes{25, 25, 23, 17, 23, 17};
constexpr int BinaryFormat = 1;

constexpr const char *SelectColumns =
    "SELECT a.attname, format_type(a.atttypid, a.atttypmod), b.typname, b.typcategory,"
    " CASE WHEN b.typname IN ('varchar', 'bpchar') AND m.typmod > 4 THEN m.typmod - 4 ELSE -1 END,"
    " a.attnotnull AND NOT a.atthasdef AND a.attidentity = '', a.attgenerated <> ''"
    " FROM pg_attribute a JOIN pg_type t ON t.oid = a.atttypid"
    " JOIN pg_type b ON b.oid = CASE WHEN t.typtype = 'd' THEN t.typbasetype ELSE t.oid END,"
    " LATERAL (SELECT CASE WHEN t.typtype = 'd' THEN t.typtypmod ELSE a.atttypmod END AS typmod) m"
    " WHERE a.attrelid = to_regclass($1) AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum";
enum ColumnColumn {
    NameColumn,
    TypeColumn,
    BaseTypeColumn,
    CategoryColumn,
    LengthColumn,
    NeedsValueColumn,
    GeneratedColumn
};

struct ResultDeleter {
    void operator()(PGresult *result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

QString errorText(const char *message)
{
    return QString::fromUtf8(message).trimmed().replace(QLatin1Char('\n'), QLatin1String("; "));
}

template <std::size_t N> bool inClasses(const char *sqlState, const std::array<const char *, N> &classes)
{
    for (const char *cls : classes) {
        if (sqlState != nullptr && qstrncmp(sqlState, cls, 2) == 0)
            return true;
    }
    return false;
}

bool isRefusedConnection(pg_conn *conn)
{
    if (PQconnectionNeedsPassword(conn))
        return true;
    const QString message = QString::fromUtf8(PQerrorMessage(conn));
    for (const char *fragment : RefusedConnection) {
        if (message.contains(QLatin1String(fragment), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

bool isTrue(const std::optional<QByteArray> &value)
{
    return value == "t";
}

} // namespace

CentralDatabase::CentralDatabase(QString conninfo) : m_conninfo(std::move(conninfo))
{
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(m_conninfo.toUtf8().constData(), &error);
    if (options == nullptr) {
        const QString message = error != nullptr ? errorText(error) : QStringLiteral("out of memory");
        PQfreemem(error);
        throw CentralError(CentralFault::Refused, QStringLiteral("bad connection string: %1").arg(message));
    }
    bool password = false;
    for (const PQconninfoOption *option = options; option->keyword != nullptr; ++option)
        password = password || (qstrcmp(option->keyword, "password") == 0 && qstrlen(option->val) > 0);
    PQconninfoFree(options);
    if (password)
        throw CentralError(
            CentralFault::Refused,
            QStringLiteral("the connection string holds a password, which every user of this "
                           "computer can read (ps, /proc/PID/cmdline): keep it in ~/.pgpass or "
                           "in the file PGPASSFILE names, and give --db without it"));
}

CentralDatabase::~CentralDatabase()
{
    close();
}

void CentralDatabase::close()
{
    if (m_conn != nullptr)
        PQfinish(m_conn);
    m_conn = nullptr;
}

void CentralDatabase::open()
{
    close();
    const QByteArray conninfo = m_conninfo.toUtf8();
    std::array<const char *, ConnectKeys.size() + 1> keys{};
    std::array<const char *, ConnectKeys.size() + 1> values{};
    std::copy(ConnectKeys.begin(), ConnectKeys.end(), keys.begin());
    std::copy(ConnectValues.begin(), ConnectValues.end(), values.begin());
    values[ConninfoKey] = conninfo.constData();
    m_conn = PQconnectdbParams(keys.data(), values.data(), 1);
    // Notices (a table made by another uplink meanwhile, a trigger's) are
    // not the uplink's to tell.
    PQsetNoticeProcessor(
        m_conn, [](void *, const char *) {}, nullptr);
    if (PQstatus(m_conn) != CONNECTION_OK) {
        const CentralFault fault =
            isRefusedConnection(m_conn) ? CentralFault::Refused : CentralFault::Unreachable;
        const QString message = errorText(PQerrorMessage(m_conn));
        close();
        throw CentralError(fault, message);
    }
    const Row session = query(QStringLiteral("checking the session"), SessionCheck).front();
    if (isTrue(session[ReadOnly]) && isTrue(session[InRecovery])) {
        close();
        throw CentralError(CentralFault::Rejected, QStringLiteral("the server is a standby in recovery and "
                                                                  "takes no writes"));
    }
    if (isTrue(session[ReadOnly])) {
        close();
        throw CentralError(CentralFault::Refused,
                           QStringLiteral("the database opens read-only transactions for this user "
                                          "(default_transaction_read_only): the uplink cannot write"));
    }
    createTable(PositionTable, PositionColumns);
}

PGresult *CentralDatabase::run(PGresult *result, const QString &what, int expected)
{
    if (PQresultStatus(result) == expected)
        return result;
    const QByteArray sqlState = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    PQclear(result);
    fail(what, sqlState.constData(), false);
}

void CentralDatabase::fail(const QString &what, const char *sqlState, bool insertingRows)
{
    CentralFault fault = CentralFault::Rejected;
    if (PQstatus(m_conn) != CONNECTION_OK || qstrncmp(sqlState, ConnectionClass, 2) == 0)
        fault = CentralFault::Unreachable;
    else if (inClasses(sqlState, RefusedClasses))
        fault = CentralFault::Refused;
    else if (inClasses(sqlState, RecordClasses))
        fault = insertingRows ? CentralFault::RecordRejected : CentralFault::Refused;
    const QString message = QStringLiteral("%1: %2").arg(what, errorText(PQerrorMessage(m_conn)));
    if (fault != CentralFault::RecordRejected)
        close();
    throw CentralError(fault, message);
}

std::vector<CentralDatabase::Row> CentralDatabase::query(const QString &what, const char *sql,
                                                         const Row &params)
{
    std::vector<const char *> values;
    for (const std::optional<QByteArray> &param : params)
        values.push_back(param ? param->constData() : nullptr);
    const Result result(
        run(PQexecParams(m_conn, sql, int(values.size()), nullptr, values.data(), nullptr, nullptr, 0), what,
            PGRES_TUPLES_OK));
    std::vector<Row> rows(std::size_t(PQntuples(result.get())));
    for (int r = 0; r < int(rows.size()); ++r) {
        for (int c = 0; c < PQnfields(result.get()); ++c) {
            if (PQgetisnull(result.get(), r, c))
                rows[r].emplace_back();
            else
                rows[r].emplace_back(PQgetvalue(result.get(), r, c));
        }
    }
    return rows;
}

void CentralDatabase::createTable(const char *table, const QByteArray &definition)
{
    // Only when missing: a user that may not create tables may use them.
    if (!isTrue(query(QStringLiteral("looking for table %1").arg(QLatin1String(table)), TableMissing, {table})
                    .front()
                    .front()))
        return;
    const QByteArray sql = QByteArray(CreateTable).replace("%1", table).replace("%2", definition);
    Result(run(PQexec(m_conn, sql.constData()), QStringLiteral("making table %1").arg(QLatin1String(table)),
               PGRES_COMMAND_OK));
}

std::vector<CentralColumn> CentralDatabase::columns(const char *table)
{
    std::vector<CentralColumn> columns;
    for (const Row &row : query(QStringLiteral("reading the columns of %1").arg(QLatin1String(table)),
                                SelectColumns, {table})) {
        columns.push_back({*row[NameColumn], *row[TypeColumn], *row[BaseTypeColumn],
                           row[CategoryColumn]->at(0), row[LengthColumn]->toInt(),
                           isTrue(row[NeedsValueColumn]), isTrue(row[GeneratedColumn])});
    }
    return columns;
}

std::optional<SourcePosition> CentralDatabase::position(const QString &station, QLatin1String source)
{
    const std::vector<Row> rows = query(QStringLiteral("reading the position"), SelectPosition,
                                        {station.toUtf8(), QByteArray(source.data())});
    if (rows.empty())
        return std::nullopt;
    std::size_t length = 0;
    unsigned char *mark =
        PQunescapeBytea(reinterpret_cast<const unsigned char *>(rows.front()[1]->constData()), &length);
    SourcePosition position{rows.front()[0]->toInt(),
                            QByteArray(reinterpret_cast<const char *>(mark), qsizetype(length))};
    PQfreemem(mark);
    return position;
}

void CentralDatabase::keepFirstPosition(const QString &station, QLatin1String source,
                                        const SourcePosition &position)
{
    const QByteArray name = station.toUtf8();
    const QByteArray generation = QByteArray::number(position.generation);
    const std::array<const char *, 4> values{name.constData(), source.data(), generation.constData(),
                                             position.mark.constData()};
    const std::array<int, 4> lengths{0, 0, 0, int(position.mark.size())};
    const std::array<int, 4> formats{0, 0, 0, BinaryFormat};
    Result(run(PQexecParams(m_conn, InsertPosition, 4, PositionTypes.data(), values.data(), lengths.data(),
                            formats.data(), 0),
               QStringLiteral("keeping the position"), PGRES_COMMAND_OK));
}

void CentralDatabase::prepareRows(const char *name, const QByteArray &insert, int rowParams)
{
    const QByteArray sql = QByteArray(MovePosition).replace("%1", insert);
    std::vector<unsigned> types(PositionTypes.begin(), PositionTypes.end());
    types.resize(std::size_t(PositionParams + rowParams), 0);
    Result(run(PQprepare(m_conn, name, sql.constData(), int(types.size()), types.data()),
               QStringLiteral("preparing the insert"), PGRES_COMMAND_OK));
}

bool CentralDatabase::commit(const char *name, const QString &station, QLatin1String source,
                             const SourcePosition &from, const SourcePosition &to,
                             const std::vector<QByteArray> &rowParams)
{
    const QByteArray stationName = station.toUtf8();
    const QByteArray generation = QByteArray::number(to.generation);
    const QByteArray fromGeneration = QByteArray::number(from.generation);
    std::vector<const char *> values{stationName.constData(),    source.data(),
                                     generation.constData(),     to.mark.constData(),
                                     fromGeneration.constData(), from.mark.constData()};
    std::vector<int> lengths(values.size() + rowParams.size(), 0);
    std::vector<int> formats(lengths.size(), 0);
    lengths[MarkParam] = int(to.mark.size());
    lengths[FromMarkParam] = int(from.mark.size());
    formats[MarkParam] = formats[FromMarkParam] = BinaryFormat;
    for (const QByteArray &param : rowParams)
        values.push_back(param.constData());
    const Result result(
        PQexecPrepared(m_conn, name, int(values.size()), values.data(), lengths.data(), formats.data(), 0));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK)
        fail(QStringLiteral("inserting records"), PQresultErrorField(result.get(), PG_DIAG_SQLSTATE), true);
    return qstrcmp(PQgetvalue(result.get(), 0, 0), "1") == 0;
}

void appendArrayText(QByteArray &array, QByteArrayView text)
{
    array += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\')
            array += '\\';
        array += c;
    }
    array += '"';
}

void appendArrayNumber(QByteArray &array, double value)
{
    if (std::isnan(value)) {
        array += "NaN";
    } else if (std::isinf(value)) {
        array += value > 0 ? "Infinity" : "-Infinity";
    } else {
        std::array<char, 32> text{};
        const auto written = std::to_chars(text.data(), text.data() + text.size(), value);
        array.append(text.data(), written.ptr - text.data());
    }
}

} // namespace qf
