#include "uplink/forwarder.h"

#include "common/error.h"

#include <algorithm>

namespace qf {
namespace {

using namespace std::chrono_literals;

// Rows per statement.
constexpr qsizetype BatchSize = 5000;
// How often a caught-up uplink looks for new rows.
constexpr std::chrono::milliseconds FollowInterval = 200ms;
constexpr std::chrono::milliseconds FirstBackOff = 250ms;
constexpr std::chrono::milliseconds LongestBackOff = 5s;
// The same refusal this often in a row is one that retrying does not mend:
// said so, and retried this seldom.
constexpr int RepeatedRejections = 3;
constexpr std::chrono::milliseconds RejectedBackOff = 60s;
// Rows refused on their own, with no row between them going in, before the
// table is taken to refuse every row.
constexpr qsizetype LeftOutInARow = 3;

// Another uplink of the station moved the position first.
struct PositionMoved {};

} // namespace

Forwarder::Forwarder(CentralDatabase &central, QString station,
                     std::vector<std::unique_ptr<UplinkSource>> sources, Pause pause, Report report)
    : m_central(central), m_station(std::move(station)), m_sources(std::move(sources)),
      m_pause(std::move(pause)), m_report(std::move(report)), m_following(m_sources.size(), false)
{
}

void Forwarder::run()
{
    for (;;) {
        try {
            if (!m_central.isOpen())
                connect();
            bool more = false;
            for (std::size_t source = 0; source < m_sources.size(); ++source)
                more = step(source) || more;
            m_backOff = 0ms;
            if (!m_pause(more ? 0ms : FollowInterval))
                return;
            continue;
        } catch (const PositionMoved &) {
            m_central.close();
            m_report(QStringLiteral("another uplink of station %1 forwarded first; going on after it")
                         .arg(m_station));
            if (!m_pause(0ms))
                return;
            continue;
        } catch (const CentralError &e) {
            switch (e.fault()) {
            case CentralFault::Refused:
                throw;
            case CentralFault::Unreachable:
                m_rejections = 0;
                enter(State::Unreachable,
                      QStringLiteral("PostgreSQL unavailable, retrying: %1").arg(e.message()));
                break;
            case CentralFault::Rejected:
            case CentralFault::RecordRejected:
                rejected(e.message());
                break;
            }
        } catch (const StationError &e) {
            if (e.error().code != ErrorCode::StoreBusy)
                throw;
            m_central.close(); // every source resumes at its kept position
            enter(State::StoreBusy, QStringLiteral("store busy, retrying: %1").arg(e.error().description));
        }
        if (!backOff())
            return;
    }
}

void Forwarder::connect()
{
    m_central.open();
    std::vector<QString> lines;
    for (const auto &source : m_sources)
        lines.push_back(source->resume(m_central));
    m_following.assign(m_sources.size(), false);
    // While the database refuses the rows, a reconnect is no news.
    if (m_state == State::Rejected) {
        m_heldBack = lines;
        return;
    }
    for (const QString &line : lines)
        m_report(line);
    m_state = State::Forwarding;
}

bool Forwarder::step(std::size_t index)
{
    UplinkSource &source = *m_sources[index];
    const qsizetype count = source.read(BatchSize);
    m_leftOut.clear();
    if (count > 0)
        commitRange(source, 0, count);
    // Rows refused at the end of the batch, with none after them to tell
    // them from a table that refuses every row: retried.
    if (!m_leftOut.empty())
        throw CentralError(CentralFault::Rejected, m_leftOut.front());
    if (count == BatchSize) {
        m_following[index] = false;
        return true;
    }
    if (!m_following[index]) {
        m_following[index] = true;
        m_report(source.caughtUp());
    }
    return false;
}

bool Forwarder::commitRange(UplinkSource &source, qsizetype from, qsizetype to)
{
    try {
        commit(source, from, to);
        return true;
    } catch (const CentralError &e) {
        if (e.fault() != CentralFault::RecordRejected)
            throw;
        if (to - from > 1) {
            const qsizetype middle = from + (to - from) / 2;
            const bool first = commitRange(source, from, middle);
            return commitRange(source, middle, to) || first;
        }
        if (m_leftOut.size() + 1 >= LeftOutInARow)
            throw CentralError(
                CentralFault::Rejected,
                QStringLiteral("every record is refused, also on its own: %1").arg(e.message()));
        m_leftOut.push_back(QStringLiteral("%1 is left out, PostgreSQL refuses it: %2")
                                .arg(source.describe(from), e.message()));
        return false;
    }
}

void Forwarder::commit(UplinkSource &source, qsizetype from, qsizetype to)
{
    if (!m_central.commit(source.statement(), m_station, source.name(), source.committed(),
                          source.after(to - 1), source.rows(from, to)))
        throw PositionMoved{};
    for (const QString &line : m_leftOut)
        m_report(line);
    m_leftOut.clear();
    source.committedThrough(to);
    accepted();
}

void Forwarder::accepted()
{
    if (m_state != State::Rejected)
        return;
    for (const QString &line : m_heldBack)
        m_report(line);
    m_heldBack.clear();
    m_rejection.clear();
    m_rejections = 0;
    m_state = State::Forwarding;
}

void Forwarder::rejected(const QString &message)
{
    m_central.close();
    m_rejections = message == m_rejection ? m_rejections + 1 : 1;
    m_rejection = message;
    m_state = State::Rejected;
    if (m_rejections == 1)
        m_report(QStringLiteral("PostgreSQL refuses the records, retrying: %1").arg(message));
    else if (m_rejections == RepeatedRejections)
        m_report(
            QStringLiteral("PostgreSQL refused the records %1 times in a row for the same reason, which "
                           "retrying does not mend; it needs the database's administrator. Retrying every "
                           "%2 s: %3")
                .arg(RepeatedRejections)
                .arg(std::chrono::duration_cast<std::chrono::seconds>(RejectedBackOff).count())
                .arg(message));
}

void Forwarder::enter(State state, const QString &line)
{
    if (state == m_state)
        return;
    m_state = state;
    m_report(line);
}

bool Forwarder::backOff()
{
    if (m_state == State::Rejected && m_rejections >= RepeatedRejections)
        m_backOff = RejectedBackOff;
    else
        m_backOff = std::clamp(m_backOff * 2, FirstBackOff, LongestBackOff);
    return m_pause(m_backOff);
}

} // namespace qf
