#pragma once

// What the gateway reads of the alarm journal (velk.mdb.alarms, written by
// the alarm service): its events in order and the current state of every
// alarm. AlarmSource is the one place the gateway depends on it.

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>
#include <sys/types.h>
#include <vector>

struct sqlite3;

namespace qf {

// The limits of a sensor in the order of their bits: bit 4 * (sensor - 1) +
// limit of the alarm bits is that limit's alarm of that sensor.
inline constexpr std::array<const char *, 4> AlarmLimitNames{"HH", "H", "L", "LL"};

struct AlarmEvent {
    qint64 id = 0;
    QString time; // as the journal holds it: local time to the millisecond
    std::optional<qint64> sensor;
    std::optional<QString> alarm;
    std::optional<QString> event;
    std::optional<double> value;
    std::optional<qint64> recordRowid;
    std::optional<QString> user;
};

// The alarms that are active, unacknowledged or shelved.
struct AlarmSummary {
    QByteArray json = "[]"; // one object per such alarm, the journal's columns as members
    quint16 activeBits = 0; // see AlarmLimitNames
    bool anyActive = false;
    bool anyUnacknowledged = false;
    bool operator==(const AlarmSummary &) const = default;
};

class AlarmSource {
public:
    virtual ~AlarmSource() = default;
    // The id of the newest event; 0 when there is none (or no journal).
    virtual qint64 newestEventId() = 0;
    // Up to limit events with an id above after, in id order.
    virtual std::vector<AlarmEvent> eventsAfter(qint64 after, int limit) = 0;
    virtual AlarmSummary summary() = 0;
};

// The journal file itself, read-only. A journal that is absent, still being
// created or unreadable reads as one without events or alarms; it is opened
// again when the file appears or is replaced.
class AlarmJournalFile : public AlarmSource {
public:
    explicit AlarmJournalFile(QString path);
    ~AlarmJournalFile() override;
    AlarmJournalFile(const AlarmJournalFile &) = delete;
    AlarmJournalFile &operator=(const AlarmJournalFile &) = delete;

    qint64 newestEventId() override;
    std::vector<AlarmEvent> eventsAfter(qint64 after, int limit) override;
    AlarmSummary summary() override;

private:
    bool isOpen();
    void close();

    QString m_path;
    sqlite3 *m_db = nullptr;
    ino_t m_inode = 0;
    dev_t m_device = 0;
};

// An event as the `alarm` message carries it.
QByteArray alarmEventMessage(const AlarmEvent &event);

} // namespace qf
