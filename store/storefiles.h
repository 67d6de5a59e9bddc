#pragma once

#include <QString>

#include <optional>
#include <sys/types.h>

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
// change), compared with what their paths name now. Only stat() and a read of
// the log's header: no descriptor of the store file itself is opened.
class StoreFileWatch {
public:
    explicit StoreFileWatch(QString path);

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
    bool walHeaderSound() const;

    QString m_path;
    std::optional<Identity> m_main;
    std::optional<Identity> m_wal;
};
