#include "store/storefiles.h"

#include "common/error.h"
#include "store/storeconnection.h"

#include <QFile>

#include <array>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qf {

namespace {

constexpr std::array<char, 16> SqliteHeader{'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                            'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};
// A write-ahead log starts with a 32-byte header whose first word is one of
// two magic numbers (big-endian), differing in the last bit only; its salt,
// the same as the wal-index's, follows at byte 16.
constexpr off_t WalHeaderSize = 32;
constexpr quint32 WalMagic = 0x377f0682;
constexpr quint32 WalMagicMask = 0xfffffffe;
constexpr int WalSaltOffset = 16;
constexpr qint64 NsPerSecond = 1000000000;

// SQLite's wal-index (its documented format): the first region of the shared
// memory starts with two copies of a 48-byte header (a writer writes the
// second first, a reader takes them only when both agree), then the
// checkpoint's state. Numbers are in the machine's byte order.
constexpr int WalIndexRegionSize = 32768;
constexpr int WalIndexHeaderSize = 48;
constexpr quint32 WalIndexVersion = 3007000;
constexpr int VersionOffset = 0;
constexpr int InitialisedOffset = 12;
constexpr int PageSizeOffset = 14; // 16 bits: the page size, 65536 as 1
constexpr int FramesOffset = 16;
constexpr int SaltOffset = 32;
constexpr int BackfilledOffset = 2 * WalIndexHeaderSize;
constexpr int FrameHeaderSize = 24;
// The lock that every checkpoint holds from its start to its end.
constexpr int CheckpointLock = 1;

template <typename T> T nativeAt(const unsigned char *bytes, int offset)
{
    T value{};
    std::memcpy(&value, bytes + offset, sizeof value);
    return value;
}

// The wal-index of a connection in write-ahead-log mode, read through
// SQLite's own mapping of it: a descriptor of ours would drop SQLite's locks
// on the file when closed. While it lives no connection of any program can
// start a checkpoint: it holds the checkpoint lock, unless one already runs.
class WalIndexView {
public:
    explicit WalIndexView(const StoreConnection *connection)
    {
        sqlite3 *db = connection ? connection->handle() : nullptr;
        volatile void *region = nullptr;
        if (!db || sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &m_file) != SQLITE_OK ||
            !m_file || !m_file->pMethods || m_file->pMethods->iVersion < 2 ||
            m_file->pMethods->xShmMap(m_file, 0, WalIndexRegionSize, 0, &region) != SQLITE_OK || !region)
            return;
        m_region = static_cast<volatile unsigned char *>(region);
        m_held = m_file->pMethods->xShmLock(m_file, CheckpointLock, 1,
                                            SQLITE_SHM_LOCK | SQLITE_SHM_EXCLUSIVE) == SQLITE_OK;
    }
    ~WalIndexView()
    {
        if (m_held)
            m_file->pMethods->xShmLock(m_file, CheckpointLock, 1, SQLITE_SHM_UNLOCK | SQLITE_SHM_EXCLUSIVE);
    }
    WalIndexView(const WalIndexView &) = delete;
    WalIndexView &operator=(const WalIndexView &) = delete;

    // A checkpoint runs: SQLite changes both files meanwhile.
    bool checkpointing() const { return m_region && !m_held; }

    // None without a wal-index, while a checkpoint runs, or when its two
    // headers differ.
    std::optional<WalIndexState> read() const
    {
        if (!m_held)
            return std::nullopt;
        std::array<unsigned char, BackfilledOffset + sizeof(quint32)> bytes{};
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (i == WalIndexHeaderSize)
                m_file->pMethods->xShmBarrier(m_file);
            bytes[i] = m_region[i];
        }
        if (std::memcmp(bytes.data(), bytes.data() + WalIndexHeaderSize, WalIndexHeaderSize) != 0 ||
            nativeAt<quint32>(bytes.data(), VersionOffset) != WalIndexVersion ||
            bytes[InitialisedOffset] != 1)
            return std::nullopt;
        const auto pageSize = nativeAt<quint16>(bytes.data(), PageSizeOffset);
        WalIndexState state;
        state.frames = nativeAt<quint32>(bytes.data(), FramesOffset);
        state.frameSize = (pageSize & 0xfe00U) + ((pageSize & 1U) << 16) + FrameHeaderSize;
        std::memcpy(state.mark.salt.data(), bytes.data() + SaltOffset, state.mark.salt.size());
        state.mark.backfilled = nativeAt<quint32>(bytes.data(), BackfilledOffset);
        return state;
    }

private:
    sqlite3_file *m_file = nullptr;
    volatile unsigned char *m_region = nullptr;
    bool m_held = false;
};

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

StoreFileWatch::StoreFileWatch(QString path, std::shared_ptr<StoreConnection> connection)
    : m_path(std::move(path)), m_connection(std::move(connection))
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
    const WalIndexView index(m_connection.get());
    m_main = identity(m_path);
    m_wal = identity(walPath());
    const std::optional<WalIndexState> state = index.read();
    m_mark = state ? std::optional(state->mark) : std::nullopt;
}

bool StoreFileWatch::walSound(off_t size, const std::optional<WalIndexState> &index) const
{
    const quint32 frames = index ? index->frames : 0;
    if (size == 0)
        return frames == 0; // SQLite writes a fresh header into an empty log
    // The log holds no lock of SQLite's, so reading it through a descriptor
    // of our own disturbs nothing.
    const Descriptor wal(::open(QFile::encodeName(walPath()).constData(), O_RDONLY | O_CLOEXEC));
    std::array<unsigned char, WalSaltOffset + sizeof(WalCheckpointMark::salt)> header{};
    if (size < WalHeaderSize || ::pread(wal.fd(), header.data(), header.size(), 0) != ssize_t(header.size()))
        return false;
    const quint32 word =
        quint32(header[0]) << 24 | quint32(header[1]) << 16 | quint32(header[2]) << 8 | header[3];
    if ((word & WalMagicMask) != WalMagic)
        return false;
    // The frames the wal-index counts are all there, written for its salt.
    return frames == 0 || (size >= WalHeaderSize + off_t(frames) * index->frameSize &&
                           std::memcmp(header.data() + WalSaltOffset, index->mark.salt.data(),
                                       index->mark.salt.size()) == 0);
}

std::optional<StoreFileChange> StoreFileWatch::check(bool ownWrites) const
{
    const WalIndexView index(m_connection.get());
    const std::optional<Identity> main = identity(m_path);
    if (!main || !m_main || main->device != m_main->device || main->inode != m_main->inode)
        return StoreFileChange::MainReplaced;
    const std::optional<Identity> wal = identity(walPath());
    if (m_wal && (!wal || wal->device != m_wal->device || wal->inode != m_wal->inode))
        return StoreFileChange::WalReplaced;
    if (index.checkpointing())
        return std::nullopt; // SQLite's to coordinate; the next commit looks again
    const std::optional<WalIndexState> state = index.read();
    // Only checkpoints write into the store file: this process's, or one
    // that has moved the wal-index's mark since.
    const bool checkpointed = state && (!m_mark || state->mark != *m_mark);
    if (!ownWrites && !checkpointed && (main->size != m_main->size || main->modifiedNs != m_main->modifiedNs))
        return StoreFileChange::MainOverwritten;
    // Without a log yet SQLite makes one with the first write.
    if (m_wal && !walSound(wal->size, state))
        return StoreFileChange::WalDamaged;
    return std::nullopt;
}

void StoreFileWatch::emptyWal() const
{
    ::truncate(QFile::encodeName(walPath()).constData(), 0);
}

} // namespace qf
