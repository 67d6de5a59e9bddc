#pragma once

#include <QString>

#include <memory>

namespace qf {

// One program at a time writes a store: the station, or the store tool while
// it creates or fills one. The lock is an flock() on the file velk.mdb.lock
// beside the store, which holds the process id and program name of its
// holder; the kernel releases it when the process ends, however it ends.
class StoreLock {
public:
    // Takes the lock of the store at storePath for this process, or throws
    // error 3045 naming the process that holds it. In a directory where the
    // lock file can be neither made nor opened (read-only), nothing can
    // write the store either, and no lock is taken; nor on a file system
    // without locks.
    static std::unique_ptr<StoreLock> take(const QString &storePath);
    ~StoreLock();
    StoreLock(const StoreLock &) = delete;
    StoreLock &operator=(const StoreLock &) = delete;

private:
    explicit StoreLock(int fd) : m_fd(fd) {}

    int m_fd = -1;
};

} // namespace qf
