#pragma once

#include "store/storefollower.h"

#include <QString>

#include <optional>

namespace qf {

// Where the gateway stands: the generation of the store it follows (one up
// at each delete-all or store put in place), the follower's mark after the
// last record the broker acknowledged, and the last alarm event it
// acknowledged with the identity of its journal.
struct GatewayPlace {
    int generation = 1;
    FollowMark mark;
    qint64 alarmEvent = 0;
    QString alarmJournal; // empty before there was a journal
    bool operator==(const GatewayPlace &) const = default;
};

// The gateway's own file beside the store (velk.mdb.gateway), replaced
// whole and synced at each save, so a crash leaves the old place or the new.
class PlaceFile {
public:
    explicit PlaceFile(QString path) : m_path(std::move(path)) {}

    const QString &path() const { return m_path; }
    // Nothing when there is no file yet (a first run). Throws StationError
    // 3146 for a file that cannot be read or is not the gateway's.
    std::optional<GatewayPlace> load() const;
    // Throws StationError 3146 (3026 for a full disk) when it cannot.
    void save(const GatewayPlace &place) const;

private:
    QString m_path;
};

} // namespace qf
