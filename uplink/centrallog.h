#pragma once

#include "uplink/storereader.h"

#include <QString>

#include <exception>
#include <optional>
#include <vector>

struct pg_conn;

namespace qf {

// A failure of the central database. A transient one (server down or
// restarting, connection dropped) is retried; a lasting one (a bad
// connection string, a refused login, a table of another shape) ends the
// uplink.
class CentralError : public std::exception {
public:
    CentralError(bool lasting, QString message)
        : m_lasting(lasting), m_message(std::move(message)), m_what(m_message.toUtf8())
    {
    }
    bool lasting() const noexcept { return m_lasting; }
    const QString &message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    bool m_lasting = false;
    QString m_message;
    QByteArray m_what;
};

// The newest record of a station in the central table, with its generation.
struct CentralPosition {
    int generation = 0;
    ForwardedRecord record;
};

// The plant's table quillfern_log in PostgreSQL, reached through libpq.
class CentralLog {
public:
    // Checks conninfo (a libpq connection string or URI); a bad one is a
    // lasting CentralError. Connects later, in open().
    explicit CentralLog(QString conninfo);
    ~CentralLog();
    CentralLog(const CentralLog &) = delete;
    CentralLog &operator=(const CentralLog &) = delete;

    bool isOpen() const { return m_conn != nullptr; }
    // Connects and creates the table when it is missing.
    void open();
    void close();

    // The station's newest row (highest generation, then highest rowid).
    std::optional<CentralPosition> newest(const QString &station);
    // Inserts records in one statement; rows already there stay as they are.
    void insert(const QString &station, int generation, const std::vector<ForwardedRecord> &records);

private:
    void exec(const char *sql);
    [[noreturn]] void fail(const QString &what, const char *sqlState);

    QString m_conninfo;
    pg_conn *m_conn = nullptr;
};

} // namespace qf
