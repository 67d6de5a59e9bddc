#pragma once

#include "alarms/alarmlimits.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace qf {

// Watches quillfern.ini for edits: the directory and the file through
// QFileSystemWatcher (touched() says look now) and, as a fallback for file
// systems without notification, whatever calls check() now and then. An
// edit is recognised by the file's identity (inode, size, times), so a look
// costs one stat().
class LimitsWatch : public QObject {
    Q_OBJECT
public:
    // report hears one line when a bad edit is kept out.
    LimitsWatch(QString path, std::function<void(const QString &)> report, QObject *parent = nullptr);

    const QString &path() const { return m_path; }

    // Reads the file (at start-up): the defaults when it is missing; throws
    // StationError (LimitsInvalid) for a bad one.
    AlarmLimits load();
    // The file's new limits when it changed since the last look; nothing
    // when it did not, or when the new text is bad (reported once, the
    // caller keeps its limits).
    std::optional<AlarmLimits> check();

Q_SIGNALS:
    void touched();

private:
    struct Identity {
        bool exists = false;
        qint64 inode = 0;
        qint64 size = 0;
        qint64 modifiedNs = 0;
        qint64 changedNs = 0;
        bool operator==(const Identity &) const = default;
    };
    Identity identity() const;
    void watchFile();

    QString m_path;
    std::function<void(const QString &)> m_report;
    QFileSystemWatcher m_watcher;
    Identity m_seen;
};

} // namespace qf
