#pragma once

#include "common/error.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <chrono>

struct sqlite3;

namespace qf {

// How long a statement waits for another program's lock on the store.
inline constexpr std::chrono::milliseconds StoreBusyWait{5000};

// One Qt SQL connection to a store file under a connection name of its own;
// the connection is removed again when the object goes. The file is opened as
// a URI, so that a path with spaces or any other characters works and a
// missing file is never created behind the caller's back.
class StoreConnection {
public:
    enum class Access {
        ReadWrite,
        // Nothing of this connection writes to the store file.
        ReadOnly,
        // The store file alone, as it is: no lock taken, no write-ahead log
        // read or made. Only sound when the caller proves afterwards that
        // nothing wrote the file meanwhile.
        Immutable,
        // The store file and its write-ahead log through their shared
        // memory opened read-only: not even the reader's mark is written
        // there. Both files must be there, or nothing opens.
        ReadOnlyWal,
    };

    // Opens the existing file at path, for reading and writing or for
    // reading only.
    explicit StoreConnection(const QString &path, Access access = Access::ReadWrite);
    ~StoreConnection();
    StoreConnection(const StoreConnection &) = delete;
    StoreConnection &operator=(const StoreConnection &) = delete;

    const QString &path() const { return m_path; }

    // Prepares and runs one statement with its values bound in order. The
    // query comes back active (forward only) for reading its rows.
    QSqlQuery exec(const QString &sql, const QVariantList &values = {}) const;
    // The first column of the first row, or a null value when there is none.
    QVariant scalar(const QString &sql, const QVariantList &values = {}) const;
    // Prepares a statement for repeated use.
    QSqlQuery prepare(const QString &sql) const;
    // Runs a prepared statement with the values bound in order.
    void run(QSqlQuery &query, const QVariantList &values) const;

    // The station's error for a failure of the engine on this store.
    Error error(const QSqlError &sqlError) const;

    // SQLite's handle of the open connection.
    sqlite3 *handle() const;

private:
    QString m_path;
    QString m_name;
};

// The SQLite URI that opens path for reading and writing (or for reading
// only) without ever creating it.
QString storeUri(const QString &path, StoreConnection::Access access = StoreConnection::Access::ReadWrite);

// The station's error for SQLite's result code (primary or extended) on the
// store file at path; detail is SQLite's message.
Error storeError(const QString &path, int sqliteCode, const QString &detail);

// Quotes an identifier for SQL (my field -> "my field").
QString quotedName(const QString &name);
// Quotes a text as an SQL string literal (it's -> 'it''s').
QString quotedText(const QString &text);

} // namespace qf
