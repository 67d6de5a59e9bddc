#include "uplink/centrallog.h"

#include <libpq-fe.h>

#include <array>
#include <cmath>
#include <memory>

namespace qf {

namespace {

// The central table. Its key makes every retry of a batch harmless.
constexpr const char *CreateTable = "CREATE TABLE quillfern_log ("
                                    " station text NOT NULL,"
                                    " generation integer NOT NULL,"
                                    " record_rowid bigint NOT NULL,"
                                    " sr_no text,"
                                    " time_and_date timestamptz,"
                                    " temp1 double precision,"
                                    " temp2 double precision,"
                                    " temp3 double precision,"
                                    " temp4 double precision,"
                                    " PRIMARY KEY (station, generation, record_rowid))";

// A whole batch travels as one array per column and is unpacked row by row.
constexpr const char *InsertName = "quillfern_insert";
constexpr const char *Insert =
    "INSERT INTO quillfern_log (station, generation, record_rowid, sr_no, time_and_date,"
    " temp1, temp2, temp3, temp4)"
    " SELECT $1, $2, r, s, to_timestamp(t), a, b, c, d"
    " FROM unnest($3::bigint[], $4::text[], $5::bigint[], $6::float8[], $7::float8[], $8::float8[],"
    " $9::float8[]) AS u(r, s, t, a, b, c, d)"
    " ON CONFLICT DO NOTHING";
constexpr int InsertParams = 9;
// The column arrays of a batch, and the first of them among the parameters.
enum BatchColumn { RowidArray, SrNoArray, TimeArray, FirstTempArray, BatchColumns = FirstTempArray + 4 };
constexpr int FirstArrayParam = 2;

constexpr const char *Newest =
    "SELECT generation, record_rowid, sr_no, extract(epoch FROM time_and_date)::bigint,"
    " temp1, temp2, temp3, temp4 FROM quillfern_log WHERE station = $1"
    " ORDER BY generation DESC, record_rowid DESC LIMIT 1";
enum NewestColumn { GenerationColumn, RowidColumn, SrNoColumn, TimeColumn, FirstTempColumn };

// Settings that come before the caller's connection string, which may
// override them: a dead server is noticed within seconds, not minutes.
constexpr std::array<const char *, 7> DefaultKeys{
    "connect_timeout", "keepalives_idle", "keepalives_interval", "keepalives_count", "application_name",
    "client_encoding", "dbname"};
constexpr std::array<const char *, 6> DefaultValues{"10", "10", "5", "3", "quillfern-uplink", "UTF8"};

// SQLSTATE classes that no retry mends: data, integrity, authorisation,
// unknown database, syntax and access rules.
constexpr std::array<const char *, 5> LastingClasses{"22", "23", "28", "3D", "42"};
// What a refused login says (libpq reports it as text only).
constexpr std::array<const char *, 6> RefusedLogin{"authentication failed", "no password supplied",
                                                   "pg_hba.conf",           "does not exist",
                                                   "permission denied",     "invalid"};

// A null element of an array literal.
constexpr const char *Null = "NULL";

struct ResultDeleter {
    void operator()(PGresult *result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

QString errorText(const char *message)
{
    return QString::fromUtf8(message).trimmed().replace(QLatin1Char('\n'), QLatin1String("; "));
}

bool isLastingState(const char *sqlState)
{
    if (sqlState == nullptr)
        return false;
    for (const char *cls : LastingClasses) {
        if (qstrncmp(sqlState, cls, 2) == 0)
            return true;
    }
    return false;
}

bool isRefusedLogin(pg_conn *conn)
{
    if (PQconnectionNeedsPassword(conn))
        return true;
    const QString message = QString::fromUtf8(PQerrorMessage(conn));
    for (const char *fragment : RefusedLogin) {
        if (message.contains(QLatin1String(fragment), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

void appendEscaped(QByteArray &array, const QString &text)
{
    array += '"';
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\')
            array += '\\';
        array += c;
    }
    array += '"';
}

QByteArray numberText(double value)
{
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value > 0 ? "Infinity" : "-Infinity";
    return QByteArray::number(value, 'g', 17);
}

std::optional<double> numberFrom(const QByteArray &text)
{
    if (text == "NaN")
        return std::nan("");
    if (text == "Infinity" || text == "-Infinity")
        return text.startsWith('-') ? -INFINITY : INFINITY;
    return text.toDouble();
}

// PostgreSQL array literals, one per column of a batch.
struct BatchArrays {
    explicit BatchArrays(const std::vector<ForwardedRecord> &records)
    {
        for (const ForwardedRecord &record : records)
            add(record);
        for (QByteArray &array : columns)
            array.append('}');
    }

    void add(const ForwardedRecord &record)
    {
        const char separator = columns[RowidArray].isEmpty() ? '{' : ',';
        for (QByteArray &array : columns)
            array += separator;
        columns[RowidArray] += QByteArray::number(record.rowid);
        if (record.srNo)
            appendEscaped(columns[SrNoArray], *record.srNo);
        else
            columns[SrNoArray] += Null;
        columns[TimeArray] += record.time ? QByteArray::number(*record.time) : QByteArray(Null);
        for (std::size_t i = 0; i < record.temps.size(); ++i)
            columns[FirstTempArray + i] += record.temps[i] ? numberText(*record.temps[i]) : QByteArray(Null);
    }

    std::array<QByteArray, BatchColumns> columns;
};

} // namespace

CentralLog::CentralLog(QString conninfo) : m_conninfo(std::move(conninfo))
{
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(m_conninfo.toUtf8().constData(), &error);
    if (options == nullptr) {
        const QString message = error != nullptr ? errorText(error) : QStringLiteral("out of memory");
        PQfreemem(error);
        throw CentralError(true, QStringLiteral("bad connection string: %1").arg(message));
    }
    PQconninfoFree(options);
}

CentralLog::~CentralLog()
{
    close();
}

void CentralLog::close()
{
    if (m_conn != nullptr)
        PQfinish(m_conn);
    m_conn = nullptr;
}

void CentralLog::open()
{
    close();
    const QByteArray conninfo = m_conninfo.toUtf8();
    std::array<const char *, DefaultKeys.size() + 1> keys{};
    std::array<const char *, DefaultKeys.size() + 1> values{};
    std::copy(DefaultKeys.begin(), DefaultKeys.end(), keys.begin());
    std::copy(DefaultValues.begin(), DefaultValues.end(), values.begin());
    values[DefaultValues.size()] = conninfo.constData(); // dbname: expanded, overrides the defaults
    m_conn = PQconnectdbParams(keys.data(), values.data(), 1);
    if (PQstatus(m_conn) != CONNECTION_OK) {
        const bool lasting = isRefusedLogin(m_conn);
        const QString message = errorText(PQerrorMessage(m_conn));
        close();
        throw CentralError(lasting, message);
    }
    Result found(PQexec(m_conn, "SELECT to_regclass('quillfern_log') IS NULL"));
    if (PQresultStatus(found.get()) != PGRES_TUPLES_OK)
        fail(QStringLiteral("looking up the table"), PQresultErrorField(found.get(), PG_DIAG_SQLSTATE));
    if (qstrcmp(PQgetvalue(found.get(), 0, 0), "t") == 0)
        exec(CreateTable);
    Result prepared(PQprepare(m_conn, InsertName, Insert, InsertParams, nullptr));
    if (PQresultStatus(prepared.get()) != PGRES_COMMAND_OK)
        fail(QStringLiteral("preparing the insert"), PQresultErrorField(prepared.get(), PG_DIAG_SQLSTATE));
}

void CentralLog::exec(const char *sql)
{
    Result result(PQexec(m_conn, sql));
    if (PQresultStatus(result.get()) != PGRES_COMMAND_OK)
        fail(QString::fromUtf8(sql).section(QLatin1Char(' '), 0, 2),
             PQresultErrorField(result.get(), PG_DIAG_SQLSTATE));
}

void CentralLog::fail(const QString &what, const char *sqlState)
{
    // A lost connection is transient whatever the statement was.
    const bool lasting = PQstatus(m_conn) == CONNECTION_OK && isLastingState(sqlState);
    const QString message = QStringLiteral("%1: %2").arg(what, errorText(PQerrorMessage(m_conn)));
    close();
    throw CentralError(lasting, message);
}

std::optional<CentralPosition> CentralLog::newest(const QString &station)
{
    const QByteArray name = station.toUtf8();
    const char *params[] = {name.constData()};
    Result result(PQexecParams(m_conn, Newest, 1, nullptr, params, nullptr, nullptr, 0));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK)
        fail(QStringLiteral("reading the newest row"), PQresultErrorField(result.get(), PG_DIAG_SQLSTATE));
    if (PQntuples(result.get()) == 0)
        return std::nullopt;
    PGresult *row = result.get();
    const auto text = [row](int column) { return QByteArray(PQgetvalue(row, 0, column)); };
    const auto isNull = [row](int column) { return PQgetisnull(row, 0, column) != 0; };
    CentralPosition position;
    position.generation = text(GenerationColumn).toInt();
    ForwardedRecord &record = position.record;
    record.rowid = text(RowidColumn).toLongLong();
    if (!isNull(SrNoColumn))
        record.srNo = QString::fromUtf8(text(SrNoColumn));
    if (!isNull(TimeColumn))
        record.time = text(TimeColumn).toLongLong();
    for (std::size_t i = 0; i < record.temps.size(); ++i) {
        if (!isNull(FirstTempColumn + int(i)))
            record.temps[i] = numberFrom(text(FirstTempColumn + int(i)));
    }
    return position;
}

void CentralLog::insert(const QString &station, int generation, const std::vector<ForwardedRecord> &records)
{
    const BatchArrays batch(records);
    const QByteArray name = station.toUtf8();
    const QByteArray generationText = QByteArray::number(generation);
    std::array<const char *, InsertParams> params{name.constData(), generationText.constData()};
    for (std::size_t i = 0; i < batch.columns.size(); ++i)
        params[FirstArrayParam + i] = batch.columns[i].constData();
    Result result(PQexecPrepared(m_conn, InsertName, InsertParams, params.data(), nullptr, nullptr, 0));
    if (PQresultStatus(result.get()) != PGRES_COMMAND_OK)
        fail(QStringLiteral("inserting records"), PQresultErrorField(result.get(), PG_DIAG_SQLSTATE));
}

} // namespace qf
