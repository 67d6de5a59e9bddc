#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QLatin1String>
#include <QString>

#include <exception>
#include <optional>
#include <vector>

struct pg_conn;
struct pg_result;

namespace qf {

// How the central database failed.
enum class CentralFault {
    Unreachable,    // no connection, or it broke: retried soon
    Rejected,       // a statement failed on a sound connection (a standby, a timeout, a
                    // trigger): retried with a back-off that grows when it repeats
    RecordRejected, // rows were refused for their values (data, integrity, an exception
                    // raised by a trigger): one of them may be the cause
    Refused,        // the database refuses the uplink for good: it ends
};

class CentralError : public std::exception {
public:
    CentralError(CentralFault fault, QString message)
        : m_fault(fault), m_message(std::move(message)), m_what(m_message.toUtf8())
    {
    }
    CentralFault fault() const noexcept { return m_fault; }
    const QString &message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    CentralFault m_fault = CentralFault::Unreachable;
    QString m_message;
    QByteArray m_what;
};

// Where a station's source stands in the central database: its generation
// (one more after every fresh start of the source, such as a delete-all)
// and the source's own mark after its last row sent.
struct SourcePosition {
    int generation = 1;
    QByteArray mark;
    bool operator==(const SourcePosition &) const = default;
};

// A column of a central table as the database has it.
struct CentralColumn {
    QByteArray name;
    QByteArray type;         // as the database writes it: "character(8)"
    QByteArray baseType;     // the type without its modifier, a domain's base: "bpchar"
    char category = 0;       // PostgreSQL's type category: 'S' text, 'N' number, ...
    int length = -1;         // the length limit of a text type, -1 for none
    bool needsValue = false; // NOT NULL without a default
    bool generated = false;
};

// The plant's PostgreSQL database, reached through libpq. It always talks
// UTF-8 with the server, whatever the connection string says. Every source
// keeps its position in table quillfern_uplink_position, moved in the same
// statement as its rows: that table, not a file beside the store, says what
// the central database holds.
class CentralDatabase {
public:
    // Checks conninfo (a libpq connection string or URI): a bad one, or one
    // with a password in it, is Refused. Connects later, in open().
    explicit CentralDatabase(QString conninfo);
    ~CentralDatabase();
    CentralDatabase(const CentralDatabase &) = delete;
    CentralDatabase &operator=(const CentralDatabase &) = delete;

    bool isOpen() const { return m_conn != nullptr; }
    // Connects, checks that the server takes writes and makes the position
    // table when it is missing.
    void open();
    void close();

    // Rows of a query, each column as text (nothing for a null); its
    // parameters likewise. What it does ("reading the position") opens the
    // message of its failure.
    using Row = std::vector<std::optional<QByteArray>>;
    std::vector<Row> query(const QString &what, const char *sql, const Row &params = {});
    // Makes table `table` with `definition` (its columns, in parentheses)
    // unless it is there, also when other uplinks do the same at once.
    void createTable(const char *table, const QByteArray &definition);
    // The columns of a table, none when there is no such table.
    std::vector<CentralColumn> columns(const char *table);

    std::optional<SourcePosition> position(const QString &station, QLatin1String source);
    // Keeps a first position unless another uplink kept one first.
    void keepFirstPosition(const QString &station, QLatin1String source, const SourcePosition &position);

    // Prepares the statement name that inserts a source's rows: insert is
    // "INSERT INTO t (...) SELECT ... FROM ..." with the station as $1, the
    // generation as $3 and the rows' own parameters from $7 on.
    void prepareRows(const char *name, const QByteArray &insert, int rowParams);
    // Inserts rows (rows already there stay as they are) and moves the
    // source's position from `from` to `to`, in one statement: false, with
    // nothing inserted, when the position is no longer `from` (another uplink
    // of the station moved on).
    bool commit(const char *name, const QString &station, QLatin1String source, const SourcePosition &from,
                const SourcePosition &to, const std::vector<QByteArray> &rowParams);

private:
    pg_result *run(pg_result *result, const QString &what, int expected);
    [[noreturn]] void fail(const QString &what, const char *sqlState, bool insertingRows);

    QString m_conninfo;
    pg_conn *m_conn = nullptr;
};

// Elements of the PostgreSQL array literals a source's rows travel in: a
// text, quoted; a number, as the shortest text that reads back as the same
// double (NaN and the infinities by name); a null.
void appendArrayText(QByteArray &array, QByteArrayView text);
void appendArrayNumber(QByteArray &array, double value);
inline constexpr const char *ArrayNull = "NULL";

} // namespace qf
