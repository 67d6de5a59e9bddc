#include "store/storelock.h"

#include "common/error.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace qf {

namespace {

constexpr mode_t LockFileMode = 0644;
constexpr std::size_t HolderTextMax = 256;

int openLockFile(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, LockFileMode);
    if (fd >= 0 || (errno != EACCES && errno != EROFS && errno != EPERM))
        return fd;
    return ::open(path.constData(), O_RDONLY | O_CLOEXEC); // flock needs no write access
}

QString holderOf(int fd)
{
    std::array<char, HolderTextMax> text{};
    const ssize_t n = ::pread(fd, text.data(), text.size() - 1, 0);
    const QString holder = n > 0 ? QString::fromLocal8Bit(text.data(), n).trimmed() : QString();
    return holder.isEmpty() ? QStringLiteral("another process") : holder;
}

QString thisHolder()
{
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return QStringLiteral("%1 (process %2)\n")
        .arg(program.isEmpty() ? QStringLiteral("a program") : program)
        .arg(::getpid());
}

} // namespace

std::unique_ptr<StoreLock> StoreLock::take(const QString &storePath)
{
    const QString path = storePath + QStringLiteral(".lock");
    const int fd = openLockFile(QFile::encodeName(path));
    if (fd < 0)
        return nullptr;
    std::unique_ptr<StoreLock> lock(new StoreLock(fd));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK)
            return nullptr; // a file system without locks
        throw StationError(ErrorCode::StoreInUse,
                           QStringLiteral("The store file %1 is in use by %2; only one station or store "
                                          "tool writes a store at a time (lock file %3)")
                               .arg(storePath, holderOf(fd), path));
    }
    const QByteArray holder = thisHolder().toLocal8Bit();
    if (::ftruncate(fd, 0) == 0 && ::pwrite(fd, holder.constData(), holder.size(), 0) != holder.size())
        ::ftruncate(fd, 0); // a holder that cannot be named reads as "another process"
    return lock;
}

StoreLock::~StoreLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace qf
