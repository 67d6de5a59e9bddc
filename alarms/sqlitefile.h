#pragma once

// A small owner of a SQLite connection and its statements for the alarm
// journal, with the engine's failures as the station's errors.

#include "common/error.h"

#include <QString>

#include <optional>

struct sqlite3;
struct sqlite3_stmt;

namespace qf {

class SqliteFile;

// A prepared statement: bind in order from 1, step with next(), read the
// current row's columns from 0.
class SqliteStatement {
public:
    SqliteStatement(SqliteFile &file, const char *sql);
    ~SqliteStatement();
    SqliteStatement(SqliteStatement &&other) noexcept;
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;
    SqliteStatement &operator=(SqliteStatement &&) = delete;

    SqliteStatement &bind(int index, qint64 value);
    SqliteStatement &bind(int index, double value);
    SqliteStatement &bind(int index, const QString &value);    // a null QString binds NULL
    SqliteStatement &bind(int index, const QByteArray &value); // as a blob
    template <typename T> SqliteStatement &bind(int index, const std::optional<T> &value)
    {
        return value ? bind(index, *value) : bindNull(index);
    }
    SqliteStatement &bindNull(int index);

    // The next row: false when there is none. Throws on failure.
    bool next();
    // Runs a statement that returns no rows, then readies it for new values.
    void run();
    void reset();

    bool isNull(int column) const;
    qint64 integer(int column) const;
    std::optional<qint64> optionalInteger(int column) const;
    std::optional<double> real(int column) const;
    QString text(int column) const;
    QByteArray bytes(int column) const;

private:
    SqliteFile *m_file = nullptr;
    sqlite3_stmt *m_statement = nullptr;
};

class SqliteFile {
public:
    enum class Access {
        ReadOnly,  // never writes the file (nor creates it)
        ReadWrite, // an existing file
        Create,    // made when missing
    };

    // Opens the file; a file that is missing (unless made) throws 3024, a
    // file that is no database 3343, anything else 3146.
    SqliteFile(const QString &path, Access access);
    ~SqliteFile();
    SqliteFile(const SqliteFile &) = delete;
    SqliteFile &operator=(const SqliteFile &) = delete;

    const QString &path() const { return m_path; }
    sqlite3 *handle() const { return m_db; }

    // Runs statements that return no rows.
    void exec(const char *sql);
    SqliteStatement prepare(const char *sql) { return SqliteStatement(*this, sql); }
    qint64 lastInsertRowid() const;

    // The station's error for a failure of the engine (a full disk 3026, a
    // lock held too long 3260, a file that is no database 3343, else 3146).
    [[noreturn]] void fail(int code, const QString &doing) const;

private:
    QString m_path;
    sqlite3 *m_db = nullptr;
};

} // namespace qf
