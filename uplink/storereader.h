#pragma once

#include <QSqlQuery>
#include <QString>

#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace qf {

class StoreConnection;

// One record of table log as the uplink forwards it: its rowid, its serial
// number as text, its time stamp in seconds since the epoch (the station's
// local time converted with the station's time zone) and its four readings.
// A null stays empty.
struct ForwardedRecord {
    qint64 rowid = 0;
    std::optional<QString> srNo;
    std::optional<qint64> time;
    std::array<std::optional<double>, 4> temps;

    bool operator==(const ForwardedRecord &other) const;
};

// Reads the store file velk.mdb beside a running station without ever
// writing it: a read-only connection, one short read transaction per call,
// so the station's write-ahead log can still be checkpointed.
class StoreReader {
public:
    // Opens the existing store read-only and checks table log and its
    // fields; throws the station's error otherwise.
    explicit StoreReader(const QString &path);
    ~StoreReader();
    StoreReader(const StoreReader &) = delete;
    StoreReader &operator=(const StoreReader &) = delete;

    // Up to limit records from rowid first on, in rowid order.
    std::vector<ForwardedRecord> read(qint64 first, int limit) const;

private:
    std::unique_ptr<StoreConnection> m_connection;
    mutable QSqlQuery m_select; // prepared once, run per read
};

} // namespace qf
