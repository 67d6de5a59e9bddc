#pragma once

#include "alarms/alarm.h"
#include "uplink/uplinksource.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace qf {

class AlarmJournalReader;

// The alarm journal velk.mdb.alarms, forwarded event by event to table
// quillfern_alarm. The kept position is the journal's identity and the last
// event id sent: a journal made anew (another identity) is forwarded from
// its first event, under its own identity. Until the alarm service has made
// the journal there is nothing to send; a journal that cannot be read is
// told once and the records go on.
class AlarmJournalSource : public UplinkSource {
public:
    using Report = std::function<void(const QString &)>;

    AlarmJournalSource(QString journalPath, QString station, Report report);
    ~AlarmJournalSource() override;

    QLatin1String name() const override { return QLatin1String("alarms"); }
    const char *statement() const override { return "quillfern_alarm_rows"; }
    QString resume(CentralDatabase &central) override;
    qsizetype read(qsizetype limit) override;
    const SourcePosition &committed() const override { return m_committed; }
    SourcePosition after(qsizetype i) const override;
    std::vector<QByteArray> rows(qsizetype from, qsizetype to) const override;
    QString describe(qsizetype i) const override;
    void committedThrough(qsizetype to) override;
    QString caughtUp() const override;

private:
    // The journal, opened once it is there; nothing while it cannot be read.
    AlarmJournalReader *journal();

    QString m_path;
    QString m_station;
    Report m_report;
    std::unique_ptr<AlarmJournalReader> m_journal;
    QString m_fault; // the journal's fault told last
    SourcePosition m_committed;
    QString m_identity; // of the journal the batch and the position are from
    qint64 m_lastId = 0;
    std::vector<AlarmEvent> m_batch;
};

} // namespace qf
