#pragma once

// What the gateway reads of the alarm journal (velk.mdb.alarms, kept by the
// alarm service): its events in order and the current state of every alarm.
// AlarmSource is the one place the gateway depends on it.

#include "alarms/alarm.h"
#include "alarms/journalreader.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <sys/types.h>
#include <vector>

namespace qf {

// The alarms that are active, unacknowledged or shelved.
struct AlarmSummary {
    QByteArray json = "[]"; // one object per such alarm
    quint16 activeBits = 0; // bit alarmIndex(alarm) while a sensor's alarm is active
    bool anyActive = false;
    bool anyUnacknowledged = false;
    bool operator==(const AlarmSummary &) const = default;
};

class AlarmSource {
public:
    virtual ~AlarmSource() = default;
    // The journal's identity (made at random with it); empty without one.
    virtual QString identity() = 0;
    // The id of the newest event; 0 when there is none (or no journal).
    virtual qint64 newestEventId() = 0;
    // Up to limit events with an id above after, in id order.
    virtual std::vector<AlarmEvent> eventsAfter(qint64 after, int limit) = 0;
    virtual AlarmSummary summary() = 0;
};

// The journal file through the alarm service's own reader. A journal that is
// absent reads as one without events or alarms; one that cannot be read for
// a moment keeps its last summary; it is opened again when the file appears
// or is replaced.
class AlarmJournalSource : public AlarmSource {
public:
    explicit AlarmJournalSource(QString path);

    QString identity() override;
    qint64 newestEventId() override;
    std::vector<AlarmEvent> eventsAfter(qint64 after, int limit) override;
    AlarmSummary summary() override;

private:
    bool isOpen();

    QString m_path;
    std::optional<AlarmJournalReader> m_reader;
    ino_t m_inode = 0;
    dev_t m_device = 0;
    std::optional<AlarmSummary> m_summary; // as last read
    bool m_summaryRead = false;            // by the reader open now
};

// An event as the `alarm` message carries it.
QByteArray alarmEventMessage(const AlarmEvent &event);

} // namespace qf
