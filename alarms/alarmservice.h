#pragma once

#include "alarms/alarmengine.h"
#include "alarms/alarmjournal.h"
#include "alarms/limitswatch.h"
#include "common/error.h"
#include "store/storefollower.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace qf {

// The alarm service: follows the store with the one store follower,
// evaluates every record against quillfern.ini's limits and keeps the
// journal. It polls: every PollInterval it looks for new records (and at
// once again while a batch was full), for an edit of the limits file (one
// stat; no file notification, which would wake it no sooner), and for
// actions other programs wrote into the journal.
//
// The journal is the truth: each change (events, state, follow mark) is one
// transaction, and before it commits the service checks that no other
// program wrote meanwhile; if one did (an operator's acknowledgement or
// shelving through the commands or the trend viewer), it takes the state and
// mark as kept and reads the records after that mark again. Records that
// made no event move the mark at most once a second; after a kill the same
// records are read again from the kept mark and give the same result, so no
// event is lost or made twice.
class AlarmService : public QObject {
    Q_OBJECT
public:
    using Report = std::function<void(const QString &)>;
    using Steady = std::chrono::steady_clock;

    static constexpr std::chrono::milliseconds PollInterval{100};
    static constexpr std::chrono::milliseconds MarkSaveInterval{1000};
    static constexpr qsizetype BatchSize = 2000;

    // report hears one line per event and change of state.
    AlarmService(QString storePath, QString limitsPath, Report report, QObject *parent = nullptr);
    ~AlarmService() override;

    // Opens the store and the journal (made on the first run, which starts
    // after the store's newest record) and reads the limits. Throws
    // StationError: the station's numbers for the store or the journal,
    // LimitsInvalid for a bad limits file.
    void start();

Q_SIGNALS:
    // The service cannot go on (the store is gone or no longer the
    // station's, the journal cannot be written for good).
    void failed(const Error &error);

private:
    void poll();
    // Takes up the journal as kept when another program wrote it (or a
    // write failed): state, mark, and the events others wrote. False when
    // this poll can do nothing more.
    bool catchUpWithJournal();
    void openFollower(const QByteArray &mark);
    // Reads the next batch of records into the engine; true when more wait.
    bool readRecords(RealTime now);
    void lookAtLimits(RealTime now);
    void save();
    void reportFault(const Error &error);
    void faultPassed();

    QString m_storePath;
    Report m_report;
    LimitsWatch m_limits;
    AlarmEngine m_engine;
    std::unique_ptr<AlarmJournal> m_journal;
    std::unique_ptr<StoreFollower> m_follower;
    QTimer m_pollTimer;
    bool m_unsaved = false;     // the mark moved since the last save
    bool m_needsReload = false; // a write failed: the journal is the truth
    Steady::time_point m_lastSave{};
    qint64 m_lastEventId = 0;
    std::optional<QString> m_lastFault; // said once until it passes
};

} // namespace qf
