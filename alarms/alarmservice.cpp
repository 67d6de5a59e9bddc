#include "alarms/alarmservice.h"

#include "alarms/alarmtext.h"
#include "store/storetext.h"

#include <QDateTime>

#include <cmath>

namespace qf {

namespace {

RealTime realNow()
{
    return std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now());
}

std::optional<RealTime> stampMoment(std::string_view stamp)
{
    const QDateTime moment = parseStoredDateTime(QString::fromUtf8(stamp.data(), qsizetype(stamp.size())));
    if (!moment.isValid())
        return std::nullopt;
    return RealTime(std::chrono::milliseconds(moment.toMSecsSinceEpoch()));
}

Reading readingOf(const RecordView &record)
{
    Reading reading{record.rowid, std::nullopt, record.values};
    if (record.stamp)
        reading.stamp = stampMoment(*record.stamp);
    return reading;
}

qint64 markRowid(const FollowMark &mark)
{
    return mark.last ? mark.last->rowid : 0;
}

} // namespace

AlarmService::AlarmService(QString storePath, QString limitsPath, Report report, QObject *parent)
    : QObject(parent), m_storePath(std::move(storePath)), m_report(std::move(report)),
      m_limits(std::move(limitsPath), m_report)
{
    m_pollTimer.setSingleShot(true);
    connect(&m_pollTimer, &QTimer::timeout, this, &AlarmService::poll);
}

AlarmService::~AlarmService() = default;

void AlarmService::start()
{
    { // a missing or foreign store is told first
        const StoreFollower probe(m_storePath);
    }
    const AlarmLimits limits = m_limits.load();
    m_journal =
        std::make_unique<AlarmJournal>(alarmJournalPath(m_storePath), AlarmJournal::Open::CreateIfMissing);
    m_lastEventId = m_journal->newestEventId();
    m_journal->changedByOthers(); // takes the count to compare with
    const AlarmJournal::Kept kept = m_journal->load();
    m_engine.restore(kept.snapshot);
    openFollower(kept.mark);
    m_engine.setLimits(limits, realNow());
    m_report(QStringLiteral("follows %1 after record %2, journal %3, limits from %4")
                 .arg(m_storePath)
                 .arg(markRowid(m_follower->mark()))
                 .arg(m_journal->path(), m_limits.path()));
    if (m_unsaved) // the first run's place lasts from the start
        save();
    m_pollTimer.start(0);
}

void AlarmService::openFollower(const QByteArray &mark)
{
    const std::optional<FollowMark> kept = mark.isEmpty() ? std::nullopt : FollowMark::fromText(mark);
    if (kept) {
        m_follower = std::make_unique<StoreFollower>(m_storePath, *kept);
        return;
    }
    if (!mark.isEmpty())
        m_report(
            QStringLiteral("the journal's follow mark cannot be read: starting after the newest record"));
    // The first run: nothing stored before it raises.
    m_follower = std::make_unique<StoreFollower>(m_storePath);
    m_follower->skipToNewest();
    const FollowMark &newest = m_follower->mark();
    if (!m_engine.snapshot().lastRecord && newest.last) {
        AlarmEngine::Snapshot snapshot = m_engine.snapshot();
        snapshot.lastRecord = stampMoment(
            std::string_view(newest.last->stamp.constData(), std::size_t(newest.last->stamp.size())));
        m_engine.restore(snapshot);
    }
    m_unsaved = true;
    m_lastSave = {};
}

void AlarmService::poll()
{
    const RealTime now = realNow();
    if (!catchUpWithJournal()) {
        m_pollTimer.start(PollInterval);
        return;
    }
    lookAtLimits(now);
    bool more = false;
    try {
        more = readRecords(now);
    } catch (const StationError &e) {
        if (e.error().code != ErrorCode::StoreBusy) {
            Q_EMIT failed(e.error());
            return;
        }
        reportFault(e.error());
        m_needsReload = true; // where the follower stands is uncertain
        m_pollTimer.start(PollInterval);
        return;
    }
    if (!more)
        m_engine.tick(now);
    if (m_engine.hasEvents() || (m_unsaved && Steady::now() - m_lastSave >= MarkSaveInterval))
        save();
    m_pollTimer.start(more || m_needsReload ? std::chrono::milliseconds(0) : PollInterval);
}

bool AlarmService::catchUpWithJournal()
{
    std::optional<AlarmJournal::Kept> kept;
    try {
        if (!m_journal->changedByOthers() && !m_needsReload)
            return true;
        kept = m_journal->load();
        for (std::vector<AlarmEvent> events;
             !(events = m_journal->eventsAfter(m_lastEventId, BatchSize)).empty();)
            for (const AlarmEvent &event : events) {
                m_report(eventLine(event, m_engine.limits()));
                m_lastEventId = event.id;
            }
    } catch (const StationError &e) {
        reportFault(e.error());
        return false;
    }
    m_engine.restore(kept->snapshot);
    m_unsaved = false;
    try {
        openFollower(kept->mark);
    } catch (const StationError &e) {
        if (e.error().code != ErrorCode::StoreBusy)
            Q_EMIT failed(e.error());
        else
            reportFault(e.error());
        return false;
    }
    m_needsReload = false;
    return true;
}

bool AlarmService::readRecords(RealTime now)
{
    const StoreChange change = m_follower->poll();
    if (change == StoreChange::None)
        return false;
    if (change == StoreChange::Restarted)
        m_report(QStringLiteral("the store's records were deleted or replaced: evaluation goes on from its "
                                "first record"));
    const qsizetype read = m_follower->next(
        BatchSize, [this, now](const RecordView &record) { m_engine.take(readingOf(record), now); });
    m_unsaved = m_unsaved || read > 0 || change == StoreChange::Restarted;
    return read == BatchSize;
}

void AlarmService::lookAtLimits(RealTime now)
{
    if (std::optional<AlarmLimits> limits = m_limits.check()) {
        m_engine.setLimits(std::move(*limits), now);
        m_report(QStringLiteral("limits taken from %1").arg(m_limits.path()));
    }
}

void AlarmService::save()
{
    try {
        AlarmJournal::Transaction transaction(*m_journal);
        if (m_journal->changedByOthers()) {
            m_needsReload = true; // an operator's action came first: evaluate again from it
            return;
        }
        std::vector<AlarmEvent> events = m_engine.takeEvents();
        m_journal->write(events, m_engine.snapshot(), m_follower->mark().toText());
        transaction.commit();
        m_unsaved = false;
        m_lastSave = Steady::now();
        faultPassed();
        for (const AlarmEvent &event : events) {
            m_report(eventLine(event, m_engine.limits()));
            m_lastEventId = event.id;
        }
    } catch (const StationError &e) {
        reportFault(e.error());
        m_needsReload = true; // what was not written is evaluated again
    }
}

void AlarmService::reportFault(const Error &error)
{
    if (m_lastFault == error.description)
        return;
    m_lastFault = error.description;
    m_report(QStringLiteral("error %1: %2; trying again").arg(error.number()).arg(error.description));
}

void AlarmService::faultPassed()
{
    if (!m_lastFault)
        return;
    m_lastFault.reset();
    m_report(QStringLiteral("the journal is written again"));
}

} // namespace qf
