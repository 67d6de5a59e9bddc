#pragma once

#include "store/recordschema.h"
#include "store/rowidkeyset.h"

#include <QLatin1String>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace qf {

class StoreConnection;
class LogRecordset;

// The fields of a record of table log, in the order they are written and
// listed (store/recordschema.h).
inline constexpr int LogFieldCount = qf::schema::FieldCount;
inline constexpr const auto &LogFieldNames = qf::schema::FieldNames;
inline constexpr int TimeAndDateField = int(qf::schema::Field::TimeAndDate);
// The six field names quoted for SQL, comma-separated, in that order.
QString quotedLogFields();

// One field of a record set: of its current record, or of the new record
// while one is being edited after AddNew.
class LogField {
public:
    QString Name() const { return LogFieldNames.at(m_index); }
    // The stored value: null, text, a number, or for TimeAndDate a local
    // date-time when the stored text has the store's date-time form.
    QVariant Value() const;
    // Sets the field of the new record (only between AddNew and Update).
    // A date-time is stored as local time 'YYYY-MM-DD HH:MM:SS'.
    void setValue(const QVariant &value);

private:
    friend class LogRecordset;
    friend class LogFields;
    LogField(LogRecordset &recordset, int index) : m_recordset(&recordset), m_index(index) {}

    LogRecordset *m_recordset = nullptr;
    int m_index = 0;
};

// The fields of a record set, found by name (case as SQL has it: ignored).
class LogFields {
public:
    LogField &Item(const QString &name);

private:
    friend class LogRecordset;
    explicit LogFields(LogRecordset &recordset);

    std::vector<LogField> m_items;
};

// A dynaset over table log: the records the table held when it was opened,
// in the order they were appended, plus those appended through it. It keeps
// the records' rowids (RowidKeyset), not the records.
class LogRecordset {
public:
    using Values = std::array<QVariant, LogFieldCount>;

    ~LogRecordset();
    LogRecordset(const LogRecordset &) = delete;
    LogRecordset &operator=(const LogRecordset &) = delete;

    // True when the record set stands after its last record. (Named Eof:
    // EOF is a macro of the C library.)
    bool Eof() const { return m_position >= RecordCount(); }
    void MoveNext();
    void MoveLast();
    // Records in the set; 0-based position of the current record.
    qint64 RecordCount() const;
    qint64 AbsolutePosition() const { return m_position; }

    LogFields &Fields() { return m_fields; }

    // Starts a new, empty record; Update stores it as one autocommit insert,
    // durable when Update returns.
    void AddNew();
    void Update();

    // Values of count records from position first on, without moving; a
    // record another program deleted meanwhile reads as nulls.
    std::vector<Values> ReadRows(qint64 first, qint64 count);

private:
    friend class LogDatabase;
    friend class LogField;
    using Segment = RowidKeyset::Segment;

    LogRecordset(std::shared_ptr<StoreConnection> connection, QString rowid);

    std::optional<qint64> rowidAt(const Segment &segment, qint64 offset);
    void readSegment(const Segment &segment, qint64 from, qint64 count, std::vector<Values> &rows,
                     qint64 first);
    Values readRow(QSqlQuery &query, int column) const;
    QVariant currentValue(int field);
    void setEditValue(int field, const QVariant &value);

    std::shared_ptr<StoreConnection> m_connection;
    QString m_rowid;
    QString m_columns; // the rowid and the six fields, quoted
    RowidKeyset m_keyset;
    qint64 m_position = 0;
    std::optional<std::pair<qint64, Values>> m_current;
    bool m_editing = false;
    Values m_edit;
    std::optional<QSqlQuery> m_insert;
    LogFields m_fields{*this};
};

// The open store file.
class LogDatabase {
public:
    // Opens an existing store file for shared reading and writing; never
    // creates anything. Checks that it is a database with the table log and
    // its six fields before it sets write-ahead logging and full
    // synchronisation (both read back). A file this process cannot write is
    // opened for reading only, its journal left as it is; writing to it then
    // fails with an error that names the file and says it is read-only.
    static std::unique_ptr<LogDatabase> OpenDatabase(const QString &path);
    ~LogDatabase();

    // The dynaset over table log (the only record set the station opens).
    std::shared_ptr<LogRecordset> OpenRecordset();
    // Runs a statement through the open connection.
    void Execute(const QString &statement);
    // The connection that writes the store in write-ahead-log mode; none for
    // a store opened for reading only.
    std::shared_ptr<StoreConnection> writingConnection() const;

private:
    LogDatabase(std::shared_ptr<StoreConnection> connection, bool readOnly);

    std::shared_ptr<StoreConnection> m_connection;
    bool m_readOnly = false;
};

// Checks that table log exists in the store and has the six fields; throws
// the station's error naming the path, table or field. Returns the table's
// column names.
QStringList checkLogTable(const StoreConnection &connection);

} // namespace qf
