#pragma once

#include "store/storefollower.h"
#include "uplink/uplinksource.h"

#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace qf {

// The station's records, read through the store follower and forwarded to
// table quillfern_log. The kept position is the follower's mark with a
// digest of the last record sent: when the records the mark stands on are
// gone, or the last one holds other values (a delete-all in the station,
// refilled within the same second), the next generation starts from the
// first record.
class LogSource : public UplinkSource {
public:
    using Report = std::function<void(const QString &)>;

    // Opens the store at once: a missing or foreign one throws StationError.
    LogSource(QString storePath, QString station, Report report);
    ~LogSource() override;

    QLatin1String name() const override { return QLatin1String("log"); }
    const char *statement() const override { return "quillfern_log_rows"; }
    QString resume(CentralDatabase &central) override;
    qsizetype read(qsizetype limit) override;
    const SourcePosition &committed() const override { return m_committed; }
    SourcePosition after(qsizetype i) const override;
    std::vector<QByteArray> rows(qsizetype from, qsizetype to) const override;
    QString describe(qsizetype i) const override;
    void committedThrough(qsizetype to) override;
    QString caughtUp() const override;

private:
    // How time_and_date holds a stamp: an instant, or the station's local
    // time as it is stored.
    enum class TimeColumn { Instant, LocalTime };
    // A record as it is sent: Sr No and the stamp as text, nothing for a
    // null.
    struct Row {
        RecordKey key;
        std::optional<QByteArray> srNo;
        QByteArray time;
        std::array<std::optional<double>, schema::SensorCount> values{};
    };

    Row rowOf(const RecordView &record) const;
    void checkTable(CentralDatabase &central);
    SourcePosition firstPosition(CentralDatabase &central);
    // Whether the record sent last holds other values now.
    bool lastChanged();
    // Starts the next generation from the store's first record.
    void startOver();

    QString m_storePath;
    QString m_station;
    Report m_report;
    std::unique_ptr<StoreFollower> m_follower;
    TimeColumn m_time = TimeColumn::Instant;
    QByteArray m_srNoType;
    SourcePosition m_committed;
    int m_generation = 1;
    qint64 m_lastRowid = 0; // the record committed last, and its digest
    QByteArray m_lastDigest;
    std::optional<RecordKey> m_first; // the first record of the batch's store
    std::vector<Row> m_batch;
};

} // namespace qf
