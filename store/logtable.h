#pragma once

// The one check of table log, shared by the station (Qt SQL) and the store
// follower (SQLite's C API): each runs LogTableShapeSql on its own
// connection, collects the rows into a LogTableShape and hands that to
// checkLogTableShape, so that both refuse the same stores with the same
// error numbers.

#include <QString>
#include <QStringList>

#include <limits>

namespace qf {

class StoreConnection;

// One row per column of the table or view named by parameter 1 (SQLite's
// names ignore case): its kind ("table" or "view") and the column's name. No
// row when the store has neither.
inline constexpr char LogTableShapeSql[] =
    "SELECT m.type, c.name FROM sqlite_master AS m JOIN pragma_table_info(m.name) AS c "
    "WHERE m.name = ?1 COLLATE NOCASE AND m.type IN ('table', 'view')";

struct LogTableShape {
    bool found = false; // a row came back
    bool view = false;  // it is a view, not a table
    QStringList columns;

    // Adds one row of LogTableShapeSql.
    void add(QStringView type, const QString &column);
};

// Throws the station's error for a store whose table log is not one the station
// logs into: 3078 no such table, 3146 a view, 3265 a field missing (names
// compared as SQL does, ignoring case). Other columns, other declared types
// and another order are fine.
void checkLogTableShape(const QString &path, const LogTableShape &shape);

// The name under which the table's rowid can be read: the first of SQLite's
// three names that no column of the table has taken.
QString rowidName(const QStringList &columns);

// The highest rowid SQLite gives. Once a record has it, SQLite picks new
// rowids at random, so records no longer follow each other in rowid order.
inline constexpr qint64 RowidLimit = std::numeric_limits<qint64>::max();
// Says that the store at path can no longer be followed in order (error 3146).
QString rowidsExhaustedText(const QString &path);
// Whether table log holds a record at RowidLimit (a store check can report
// rowidsExhaustedText then).
bool rowidsExhausted(const StoreConnection &connection);

} // namespace qf
