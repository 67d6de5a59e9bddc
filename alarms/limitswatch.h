#pragma once

#include "alarms/alarmlimits.h"

#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace qf {

// Watches quillfern.ini for edits. Whoever polls calls check() often (the
// service every poll): an edit is recognised by the file's identity (inode,
// size, times), so a look costs one stat(), and the file is read once its
// identity has held for SettleTime, so that an editor that empties the
// file and then writes it is never read half-way (no limits for a moment).
class LimitsWatch {
public:
    static constexpr std::chrono::milliseconds SettleTime{200};

    // report hears one line when a bad edit is kept out.
    LimitsWatch(QString path, std::function<void(const QString &)> report);

    const QString &path() const { return m_path; }

    // Reads the file (at start-up): the defaults when it is missing; throws
    // StationError (LimitsInvalid) for a bad one.
    AlarmLimits load();
    // The file's new limits once an edit has settled; nothing when there
    // was none, or when the new text is bad (reported once, the caller keeps
    // its limits).
    std::optional<AlarmLimits> check();

private:
    using Steady = std::chrono::steady_clock;
    struct Identity {
        bool exists = false;
        qint64 inode = 0;
        qint64 size = 0;
        qint64 modifiedNs = 0;
        qint64 changedNs = 0;
        bool operator==(const Identity &) const = default;
    };
    Identity identity() const;

    QString m_path;
    std::function<void(const QString &)> m_report;
    Identity m_read;   // the file as last read
    Identity m_looked; // the file at the last look
    Steady::time_point m_lookedSince{};
};

} // namespace qf
