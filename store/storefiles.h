#pragma once

#include <QString>

#include <array>
#include <memory>
#include <optional>
#include <sys/types.h>

namespace qf {

class StoreConnection;

// Where SQLite's checkpoints stand: the log's salt, new at every restart of
// the log, and the frames already copied into the store file.
struct WalCheckpointMark {
    std::array<char, 8> salt{};
    quint32 backfilled = 0;
    bool operator==(const WalCheckpointMark &) const = default;
};

// What SQLite's wal-index says of the write-ahead log.
struct WalIndexState {
    quint32 frames = 0;    // valid frames in the log
    quint32 frameSize = 0; // bytes of one frame, its header included
    WalCheckpointMark mark;
};

// Proves that path names a regular file whose header says SQLite database
// (an empty file counts: SQLite's empty database) before anything reads
// it, so that a FIFO, a device or a large file of something else ends at once
// with error 3343 instead of blocking or being read through. A missing or
// unreadable file passes: opening it reports that. Call it before any
// connection of this process has the file open (closing the descriptor it
// reads through would drop the locks such a connection holds).
void checkStoreFile(const QString &path);

// What changed behind the station's back in the files it writes.
enum class StoreFileChange {
    MainReplaced,    // velk.mdb removed or another file put in its place
    MainOverwritten, // velk.mdb rewritten in place by another program
    WalReplaced,     // velk.mdb-wal removed or another file put in its place
    WalDamaged,      // velk.mdb-wal cut short or overwritten
};

// The identity of the store file and of its write-ahead log as this process
// opened them (device, inode, and for the store file its size and time of
// change), compared with what their paths name now and with what SQLite's
// wal-index, shared by every connection to the store, says of them. What
// SQLite's connections do (a checkpoint of any mode, a read, a backup, by
// any program) is no change; what is done behind SQLite's back is: a file
// removed or replaced, the log cut short or overwritten, the store file
// written by a program that is no checkpoint. Only stat(), a read of the
// log's header and SQLite's shared memory: no descriptor of the store file
// or of its shared memory is opened.
class StoreFileWatch {
public:
    // connection: the one that writes the store in write-ahead-log mode;
    // without it (a store opened for reading only) any write to the store
    // file is a change.
    StoreFileWatch(QString path, std::shared_ptr<StoreConnection> connection);

    // A change since the last remember(); ownWrites: this process wrote the
    // store meanwhile, so that size and time of the store file may differ.
    std::optional<StoreFileChange> check(bool ownWrites) const;
    // What the paths name now becomes what this process writes.
    void remember();

    // Empties the write-ahead log, so that frames written for another store
    // file are never replayed into the one the path names now.
    void emptyWal() const;

    const QString &path() const { return m_path; }
    QString walPath() const;

private:
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        qint64 modifiedNs = 0;
    };
    static std::optional<Identity> identity(const QString &path);
    // What the log's header and length say, held against the wal-index.
    bool walSound(off_t size, const std::optional<WalIndexState> &index) const;

    QString m_path;
    std::shared_ptr<StoreConnection> m_connection;
    std::optional<Identity> m_main;
    std::optional<Identity> m_wal;
    // Where checkpoints stood at remember(); none when it could not be read.
    std::optional<WalCheckpointMark> m_mark;
};

} // namespace qf
