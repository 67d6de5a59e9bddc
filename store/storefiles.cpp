#include "store/storefiles.h"

#include "common/error.h"

#include <QFile>

#include <array>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::array<char, 16> SqliteHeader{'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                            'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};
// A write-ahead log starts with a 32-byte header whose first word is one of
// two magic numbers (big-endian), differing in the last bit only.
constexpr off_t WalHeaderSize = 32;
constexpr quint32 WalMagic = 0x377f0682;
constexpr quint32 WalMagicMask = 0xfffffffe;
constexpr qint64 NsPerSecond = 1000000000;

// Closes a descriptor when it goes.
class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

[[noreturn]] void notADatabase(const QString &path, const QString &why)
{
    throw StationError(ErrorCode::StoreNotDatabase,
                       QStringLiteral("Not a database file: %1 (%2)").arg(path, why));
}

} // namespace

void checkStoreFile(const QString &path)
{
    // Non-blocking, so that opening a FIFO returns at once.
    const Descriptor file(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat status {};
    if (file.fd() < 0 || ::fstat(file.fd(), &status) != 0)
        return;
    if (!S_ISREG(status.st_mode))
        notADatabase(path, QStringLiteral("not a regular file"));
    if (status.st_size == 0)
        return;
    std::array<char, SqliteHeader.size()> header{};
    if (::pread(file.fd(), header.data(), header.size(), 0) != ssize_t(header.size()) ||
        header != SqliteHeader)
        notADatabase(path, QStringLiteral("no SQLite header"));
}

StoreFileWatch::StoreFileWatch(QString path) : m_path(std::move(path))
{
    remember();
}

QString StoreFileWatch::walPath() const
{
    return m_path + QStringLiteral("-wal");
}

std::optional<StoreFileWatch::Identity> StoreFileWatch::identity(const QString &path)
{
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return Identity{status.st_dev, status.st_ino, status.st_size,
                    qint64(status.st_mtim.tv_sec) * NsPerSecond + status.st_mtim.tv_nsec};
}

void StoreFileWatch::remember()
{
    m_main = identity(m_path);
    m_wal = identity(walPath());
}

bool StoreFileWatch::walHeaderSound() const
{
    // The log holds no lock of SQLite's, so reading it through a descriptor
    // of our own disturbs nothing.
    const Descriptor wal(::open(QFile::encodeName(walPath()).constData(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (wal.fd() < 0 || ::fstat(wal.fd(), &status) != 0)
        return false;
    if (status.st_size < WalHeaderSize)
        return status.st_size == 0; // SQLite writes a fresh header into an empty log
    std::array<unsigned char, 4> magic{};
    if (::pread(wal.fd(), magic.data(), magic.size(), 0) != ssize_t(magic.size()))
        return false;
    const quint32 word =
        quint32(magic[0]) << 24 | quint32(magic[1]) << 16 | quint32(magic[2]) << 8 | magic[3];
    return (word & WalMagicMask) == WalMagic;
}

std::optional<StoreFileChange> StoreFileWatch::check(bool ownWrites) const
{
    const std::optional<Identity> main = identity(m_path);
    if (!main || !m_main || main->device != m_main->device || main->inode != m_main->inode)
        return StoreFileChange::MainReplaced;
    if (!ownWrites && (main->size != m_main->size || main->modifiedNs != m_main->modifiedNs))
        return StoreFileChange::MainOverwritten;
    if (!m_wal)
        return std::nullopt; // no log yet: SQLite makes it with the first write
    const std::optional<Identity> wal = identity(walPath());
    if (!wal || wal->device != m_wal->device || wal->inode != m_wal->inode)
        return StoreFileChange::WalReplaced;
    // Only this process's checkpoints shorten the log.
    if ((!ownWrites && wal->size < m_wal->size) || !walHeaderSound())
        return StoreFileChange::WalDamaged;
    return std::nullopt;
}

void StoreFileWatch::emptyWal() const
{
    ::truncate(QFile::encodeName(walPath()).constData(), 0);
}
