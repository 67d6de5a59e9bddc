#include "alarms/limitswatch.h"

#include "alarms/limitsfile.h"
#include "common/error.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace qf {

namespace {

constexpr qint64 NsPerSecond = 1000000000;

qint64 nanoseconds(const timespec &time)
{
    return qint64(time.tv_sec) * NsPerSecond + time.tv_nsec;
}

} // namespace

LimitsWatch::LimitsWatch(QString path, std::function<void(const QString &)> report, QObject *parent)
    : QObject(parent), m_path(std::move(path)), m_report(std::move(report))
{
    m_watcher.addPath(QFileInfo(m_path).absolutePath());
    watchFile();
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &LimitsWatch::touched);
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, &LimitsWatch::touched);
}

LimitsWatch::Identity LimitsWatch::identity() const
{
    struct stat info {};
    if (::stat(QFile::encodeName(m_path).constData(), &info) != 0)
        return {};
    return {true, qint64(info.st_ino), qint64(info.st_size), nanoseconds(info.st_mtim),
            nanoseconds(info.st_ctim)};
}

// A file replaced by a rename is a new file to the watcher.
void LimitsWatch::watchFile()
{
    if (QFileInfo::exists(m_path) && !m_watcher.files().contains(m_path))
        m_watcher.addPath(m_path);
}

AlarmLimits LimitsWatch::load()
{
    m_seen = identity();
    return readLimitsFile(m_path);
}

std::optional<AlarmLimits> LimitsWatch::check()
{
    const Identity now = identity();
    if (now == m_seen)
        return std::nullopt;
    m_seen = now;
    watchFile();
    try {
        return readLimitsFile(m_path);
    } catch (const StationError &e) {
        m_report(QStringLiteral("%1; the limits stay as they were until the file is corrected")
                     .arg(e.error().description));
        return std::nullopt;
    }
}

} // namespace qf
