#include "alarms/limitswatch.h"

#include "alarms/limitsfile.h"
#include "common/error.h"

#include <QFile>

#include <sys/stat.h>

namespace qf {

namespace {

constexpr qint64 NsPerSecond = 1000000000;

qint64 nanoseconds(const timespec &time)
{
    return qint64(time.tv_sec) * NsPerSecond + time.tv_nsec;
}

} // namespace

LimitsWatch::LimitsWatch(QString path, std::function<void(const QString &)> report)
    : m_path(std::move(path)), m_report(std::move(report))
{
}

LimitsWatch::Identity LimitsWatch::identity() const
{
    struct stat info {};
    if (::stat(QFile::encodeName(m_path).constData(), &info) != 0)
        return {};
    return {true, qint64(info.st_ino), qint64(info.st_size), nanoseconds(info.st_mtim),
            nanoseconds(info.st_ctim)};
}

AlarmLimits LimitsWatch::load()
{
    m_read = m_looked = identity();
    return readLimitsFile(m_path);
}

std::optional<AlarmLimits> LimitsWatch::check()
{
    const Identity now = identity();
    if (now != m_looked) {
        m_looked = now;
        m_lookedSince = Steady::now();
        return std::nullopt;
    }
    if (m_looked == m_read || Steady::now() - m_lookedSince < SettleTime)
        return std::nullopt;
    m_read = m_looked;
    try {
        return readLimitsFile(m_path);
    } catch (const StationError &e) {
        m_report(QStringLiteral("%1; the limits stay as they were until the file is corrected")
                     .arg(e.error().description));
        return std::nullopt;
    }
}

} // namespace qf
