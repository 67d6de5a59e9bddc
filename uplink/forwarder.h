#pragma once

#include "uplink/centraldatabase.h"
#include "uplink/uplinksource.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace qf {

// Forwards the rows of its sources to the central database exactly once:
// each batch goes in with the source's position after it, in one statement,
// and after a restart or a reconnect every source resumes at the position
// the central database keeps. A batch refused for a row's values is split
// until the rows at fault are found; those are left out and told once, as
// soon as a row after them goes in. A database that is down is retried with
// a short back-off; one that refuses the rows the same way again and again
// is said to need its administrator and retried once a minute; one that
// refuses the uplink for good ends it.
class Forwarder {
public:
    // Pauses for the given time; false when the uplink is asked to stop.
    using Pause = std::function<bool(std::chrono::milliseconds)>;
    // Hears one line per change of state.
    using Report = std::function<void(const QString &)>;

    Forwarder(CentralDatabase &central, QString station, std::vector<std::unique_ptr<UplinkSource>> sources,
              Pause pause, Report report);

    // Runs until pause says stop (after the batch in flight). Throws a
    // StationError for a store that is missing or not the station's, a
    // Refused CentralError for a database that refuses the uplink.
    void run();

private:
    enum class State { Starting, Forwarding, Unreachable, Rejected, StoreBusy };

    void connect();
    // Forwards one batch of a source; true when more are waiting.
    bool step(std::size_t source);
    // Commits rows [from, to) of the batch, narrowing a refused range down to
    // the rows at fault; true when any row went in.
    bool commitRange(UplinkSource &source, qsizetype from, qsizetype to);
    void commit(UplinkSource &source, qsizetype from, qsizetype to);
    void accepted();
    void rejected(const QString &message);
    void enter(State state, const QString &line);
    bool backOff();

    CentralDatabase &m_central;
    QString m_station;
    std::vector<std::unique_ptr<UplinkSource>> m_sources;
    Pause m_pause;
    Report m_report;
    State m_state = State::Starting;
    std::vector<bool> m_following;   // per source: said to be caught up
    std::vector<QString> m_leftOut;  // rows refused on their own, told once a later row goes in
    std::vector<QString> m_heldBack; // lines of a reconnect while the database refuses the rows
    QString m_rejection;             // the database's last refusal, and how often in a row
    int m_rejections = 0;
    std::chrono::milliseconds m_backOff{0};
};

} // namespace qf
