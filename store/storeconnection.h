#pragma once

#include "common/error.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

// How a connection opens the store file: the station reads and writes it;
// a program beside the station (the uplink) only reads it.
enum class StoreAccess { ReadWrite, ReadOnly };

// One Qt SQL connection to a store file under a connection name of its own;
// the connection is removed again when the object goes. The file is opened as
// a URI, so that a path with spaces or any other characters works and a
// missing file is never created behind the caller's back.
class StoreConnection {
public:
    // Opens the existing file at path for reading and writing, or only for
    // reading.
    explicit StoreConnection(const QString &path, StoreAccess access = StoreAccess::ReadWrite);
    ~StoreConnection();
    StoreConnection(const StoreConnection &) = delete;
    StoreConnection &operator=(const StoreConnection &) = delete;

    const QString &path() const { return m_path; }
    const QString &connectionName() const { return m_name; }

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

private:
    QString m_path;
    QString m_name;
};

// The SQLite URI that opens path for reading and writing (or only reading)
// without ever creating it.
QString storeUri(const QString &path, StoreAccess access = StoreAccess::ReadWrite);

// Quotes an identifier for SQL ("Sr No" -> "\"Sr No\"").
QString quotedName(const QString &name);
