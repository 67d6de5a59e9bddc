#include "gateway/alarmjournal.h"

#include "common/error.h"
#include "gateway/jsontext.h"
#include "gateway/recordmessage.h"

#include <QDateTime>
#include <QFile>

#include <sys/stat.h>

namespace qf {

namespace {

QString isoTime(RealTime time)
{
    return isoTimeWithOffset(QDateTime::fromMSecsSinceEpoch(time.time_since_epoch().count()), true);
}

std::optional<QString> isoTime(const std::optional<RealTime> &time)
{
    return time ? std::optional(isoTime(*time)) : std::nullopt;
}

bool isActive(AlarmState state)
{
    return state == AlarmState::Unacknowledged || state == AlarmState::Acknowledged;
}

bool awaitsAcknowledgement(AlarmState state)
{
    return state == AlarmState::Unacknowledged || state == AlarmState::Returned;
}

AlarmSummary summaryOf(const std::array<AlarmStatus, AlarmCount> &statuses)
{
    AlarmSummary summary;
    QByteArray listed;
    for (int index = 0; index < AlarmCount; ++index) {
        const AlarmStatus &status = statuses[std::size_t(index)];
        if (status.state == AlarmState::Normal)
            continue;
        const AlarmId alarm = alarmAt(index);
        const bool active = isActive(status.state); // a shelved alarm is out of service
        summary.anyActive = summary.anyActive || active;
        summary.anyUnacknowledged = summary.anyUnacknowledged || awaitsAcknowledgement(status.state);
        if (active && alarm.kind != AlarmKind::Silent)
            summary.activeBits |= quint16(1U << alarmIndex(alarm));
        if (!listed.isEmpty())
            listed += ',';
        listed += JsonObject()
                      .addInteger("sensor", alarm.sensor)
                      .addString("alarm", alarmKindText(alarm.kind))
                      .addString("state", alarmStateText(status.state))
                      .addString("since", isoTime(status.since))
                      .addNumber("value", status.value)
                      .addInteger("record_rowid", status.recordRowid)
                      .addString("shelved_until", isoTime(status.shelvedUntil))
                      .text();
    }
    summary.json = '[' + listed + ']';
    return summary;
}

} // namespace

AlarmJournalSource::AlarmJournalSource(QString path) : m_path(std::move(path))
{
}

bool AlarmJournalSource::isOpen()
{
    struct stat file {};
    if (::stat(QFile::encodeName(m_path).constData(), &file) != 0 || !S_ISREG(file.st_mode)) {
        m_reader.reset();
        m_summary.reset();
        return false;
    }
    if (m_reader && (file.st_ino != m_inode || file.st_dev != m_device)) {
        m_reader.reset(); // another journal in its place
        m_summary.reset();
    }
    if (m_reader)
        return true;
    try {
        m_reader.emplace(m_path);
    } catch (const StationError &) {
        return false; // still being made, or not a journal: looked at again next time
    }
    m_summaryRead = false;
    m_inode = file.st_ino;
    m_device = file.st_dev;
    return true;
}

QString AlarmJournalSource::identity()
{
    try {
        return isOpen() ? m_reader->identity() : QString();
    } catch (const StationError &) {
        m_reader.reset();
        return {};
    }
}

qint64 AlarmJournalSource::newestEventId()
{
    try {
        return isOpen() ? m_reader->newestEventId() : 0;
    } catch (const StationError &) {
        m_reader.reset();
        return 0;
    }
}

std::vector<AlarmEvent> AlarmJournalSource::eventsAfter(qint64 after, int limit)
{
    try {
        return isOpen() ? m_reader->eventsAfter(after, limit) : std::vector<AlarmEvent>();
    } catch (const StationError &) {
        m_reader.reset();
        return {};
    }
}

AlarmSummary AlarmJournalSource::summary()
{
    if (!isOpen())
        return m_summary.value_or(AlarmSummary());
    try {
        const bool changed = m_reader->changed(); // the first call after an open takes the count
        if (changed || !m_summaryRead)
            m_summary = summaryOf(m_reader->states());
        m_summaryRead = true;
    } catch (const StationError &) {
        m_reader.reset(); // read again once it can be; meanwhile the last summary stands
    }
    return m_summary.value_or(AlarmSummary());
}

QByteArray alarmEventMessage(const AlarmEvent &event)
{
    return JsonObject()
        .addInteger("id", event.id)
        .addString("time", isoTime(event.time))
        .addInteger("sensor", event.alarm.sensor)
        .addString("alarm", alarmKindText(event.alarm.kind))
        .addString("event", alarmEventText(event.kind))
        .addNumber("value", event.value)
        .addInteger("record_rowid", event.recordRowid)
        .addString("user", event.user.isEmpty() ? std::nullopt : std::optional(event.user))
        .text();
}

} // namespace qf
