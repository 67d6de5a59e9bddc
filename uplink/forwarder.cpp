#include "uplink/forwarder.h"

#include "common/error.h"

#include <algorithm>

namespace qf {

namespace {

using namespace std::chrono_literals;

// Records per transaction.
constexpr int BatchSize = 5000;
// How often a caught-up uplink looks for new records.
constexpr std::chrono::milliseconds FollowInterval = 200ms;
constexpr std::chrono::milliseconds FirstBackOff = 250ms;
constexpr std::chrono::milliseconds LongestBackOff = 5s;

} // namespace

Forwarder::Forwarder(QString storePath, CentralLog &central, QString station, Pause pause, Report report)
    : m_storePath(std::move(storePath)), m_central(central), m_station(std::move(station)),
      m_pause(std::move(pause)), m_report(std::move(report))
{
}

void Forwarder::run()
{
    for (;;) {
        try {
            if (!m_store)
                m_store.emplace(m_storePath);
            if (!m_central.isOpen())
                resume();
            step();
            m_backOff = 0ms;
            if (!m_pause(0ms))
                return;
            continue;
        } catch (const CentralError &e) {
            if (e.lasting())
                throw;
            enter(State::DatabaseDown,
                  QStringLiteral("PostgreSQL unavailable, retrying: %1").arg(e.message()));
        } catch (const StationError &e) {
            if (e.error().code != ErrorCode::StoreBusy)
                throw;
            enter(State::StoreBusy, QStringLiteral("store busy, retrying: %1").arg(e.error().description));
        }
        if (!backOff())
            return;
    }
}

bool Forwarder::backOff()
{
    m_backOff = std::clamp(m_backOff * 2, FirstBackOff, LongestBackOff);
    return m_pause(m_backOff);
}

void Forwarder::resume()
{
    m_central.open();
    const std::optional<CentralPosition> newest = m_central.newest(m_station);
    m_generation = newest ? newest->generation : 1;
    m_last.reset();
    if (!newest) {
        enter(State::CatchingUp,
              QStringLiteral("connected; forwarding generation %1 from the first record").arg(m_generation));
        return;
    }
    const std::vector<ForwardedRecord> stored = m_store->read(newest->record.rowid, 1);
    if (stored.empty() || stored.front() != newest->record) {
        newGeneration(QStringLiteral("connected; the store no longer holds record %1 of generation %2")
                          .arg(newest->record.rowid)
                          .arg(newest->generation));
        return;
    }
    m_last = stored.front();
    enter(State::CatchingUp, QStringLiteral("connected; forwarding generation %1 after record %2")
                                 .arg(m_generation)
                                 .arg(m_last->rowid));
}

void Forwarder::step()
{
    std::vector<ForwardedRecord> records = m_store->read(m_last ? m_last->rowid : 1, BatchSize + 1);
    if (m_last) {
        if (records.empty() || records.front() != *m_last) {
            newGeneration(QStringLiteral("the store no longer holds record %1").arg(m_last->rowid));
            return;
        }
        records.erase(records.begin());
    } else if (records.size() > std::size_t(BatchSize)) {
        records.pop_back();
    }
    forward(std::move(records));
}

void Forwarder::forward(std::vector<ForwardedRecord> records)
{
    if (!records.empty()) {
        m_central.insert(m_station, m_generation, records);
        m_last = records.back();
    }
    if (records.size() < std::size_t(BatchSize)) {
        enter(State::Following, QStringLiteral("caught up after record %1 of generation %2; following")
                                    .arg(m_last ? m_last->rowid : 0)
                                    .arg(m_generation));
        m_pause(FollowInterval);
    }
}

void Forwarder::newGeneration(const QString &why)
{
    ++m_generation;
    m_last.reset();
    enter(State::CatchingUp,
          QStringLiteral("%1: forwarding generation %2 from the first record").arg(why).arg(m_generation));
}

void Forwarder::enter(State state, const QString &line)
{
    if (state == m_state && state != State::CatchingUp)
        return;
    m_state = state;
    m_report(line);
}

} // namespace qf
