#include "trend/trendcachefile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <bit>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace qf {

namespace {

constexpr int CacheNameHashLength = 16;
const QString CacheSuffix = QStringLiteral(".trend");
constexpr qint64 TextLimit = qint64(1) << 20; // a key's text or the zone

qint64 alignUp(qint64 value, qint64 alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

template <typename T> std::span<const char> bytesOf(const T &value)
{
    return {reinterpret_cast<const char *>(&value), sizeof(T)};
}

quint64 superblockChecksum(const CacheSuperblock &block)
{
    return cacheChecksum({reinterpret_cast<const char *>(&block), offsetof(CacheSuperblock, checksum)});
}

bool readAll(int fd, char *to, qint64 bytes, qint64 at)
{
    while (bytes > 0) {
        const ssize_t n = ::pread(fd, to, std::size_t(bytes), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        to += n;
        at += n;
        bytes -= n;
    }
    return true;
}

bool writeAll(int fd, std::span<const char> bytes, qint64 at)
{
    const char *from = bytes.data();
    qint64 left = qint64(bytes.size());
    while (left > 0) {
        const ssize_t n = ::pwrite(fd, from, std::size_t(left), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        from += n;
        at += n;
        left -= n;
    }
    return true;
}

// Reads the directory's bytes in order, refusing to run past their end.
class DirectoryReader {
public:
    explicit DirectoryReader(const QByteArray &bytes) : m_bytes(bytes) {}
    template <typename T> bool take(T &value)
    {
        if (qint64(sizeof(T)) > left())
            return false;
        std::memcpy(&value, m_bytes.constData() + m_at, sizeof(T));
        m_at += qint64(sizeof(T));
        return true;
    }
    bool takeText(quint32 bytes, QByteArray &text)
    {
        if (bytes > left() || bytes > TextLimit)
            return false;
        text = m_bytes.mid(m_at, bytes);
        m_at += bytes;
        return true;
    }
    bool align() { return (m_at = alignUp(m_at, 8)) <= m_bytes.size(); }
    qint64 left() const { return m_bytes.size() - m_at; }

private:
    const QByteArray &m_bytes;
    qint64 m_at = 0;
};

QByteArray directoryBytes(const CacheOrigin &origin, const std::vector<CacheChunkEntry> &chunks)
{
    CacheDirectoryHead head;
    head.chunkCount = chunks.size();
    head.firstRowid = origin.first.rowid;
    head.lastRowid = origin.last.rowid;
    head.hasClock = origin.clock ? 1 : 0;
    head.clock = origin.clock.value_or(0);
    head.zoneBytes = quint32(origin.zone.size());
    head.firstSrNoBytes = quint32(origin.first.srNo.size());
    head.firstStampBytes = quint32(origin.first.stamp.size());
    head.lastSrNoBytes = quint32(origin.last.srNo.size());
    head.lastStampBytes = quint32(origin.last.stamp.size());
    QByteArray bytes(reinterpret_cast<const char *>(&head), sizeof(head));
    bytes += origin.zone + origin.first.srNo + origin.first.stamp + origin.last.srNo + origin.last.stamp;
    bytes.append(alignUp(bytes.size(), 8) - bytes.size(), '\0');
    bytes.append(reinterpret_cast<const char *>(chunks.data()),
                 qint64(chunks.size() * sizeof(CacheChunkEntry)));
    return bytes;
}

// Whether the chunks can be those of a file of this length: each where a
// chunk may lie and within the file, all but the newest full, their moments
// in order.
bool validChunks(const std::vector<CacheChunkEntry> &chunks, const ChunkGeometry &geometry, qint64 length)
{
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        const CacheChunkEntry &c = chunks[i];
        const bool newest = i + 1 == chunks.size();
        if (c.offset % CacheExtentAlignment != 0 || c.offset < quint64(CacheDataStart) ||
            c.offset > quint64(length) || c.count < 1 || c.count > quint64(geometry.records()) ||
            (!newest && c.count != quint64(geometry.records())) || c.runs < 1 || c.runs > c.count ||
            quint64(geometry.extentBytes(qint64(c.runs))) > quint64(length) - c.offset ||
            c.summary.first > c.summary.last || (i > 0 && c.summary.first < chunks[i - 1].summary.last))
            return false;
    }
    return !chunks.empty();
}

std::optional<CacheContents> readDirectory(const std::shared_ptr<CacheFile> &file,
                                           const CacheSuperblock &block, qint64 length,
                                           const ChunkGeometry &geometry)
{
    QByteArray bytes(qint64(block.directoryBytes), Qt::Uninitialized);
    if (!readAll(file->fd(), bytes.data(), bytes.size(), qint64(block.directoryOffset)) ||
        cacheChecksum(bytes) != block.directoryChecksum)
        return std::nullopt;
    DirectoryReader in(bytes);
    CacheDirectoryHead head;
    CacheContents contents;
    CacheOrigin &origin = contents.origin;
    if (!in.take(head) || !in.takeText(head.zoneBytes, origin.zone) ||
        !in.takeText(head.firstSrNoBytes, origin.first.srNo) ||
        !in.takeText(head.firstStampBytes, origin.first.stamp) ||
        !in.takeText(head.lastSrNoBytes, origin.last.srNo) ||
        !in.takeText(head.lastStampBytes, origin.last.stamp) || !in.align() ||
        head.chunkCount > quint64(in.left()) / sizeof(CacheChunkEntry) ||
        head.chunkCount * sizeof(CacheChunkEntry) != quint64(in.left()))
        return std::nullopt;
    origin.first.rowid = head.firstRowid;
    origin.last.rowid = head.lastRowid;
    if (head.hasClock)
        origin.clock = head.clock;
    contents.chunks.resize(std::size_t(head.chunkCount));
    for (CacheChunkEntry &entry : contents.chunks)
        in.take(entry);
    if (!validChunks(contents.chunks, geometry, length))
        return std::nullopt;
    contents.file = file;
    contents.generation = block.generation;
    contents.directory = {qint64(block.directoryOffset), qint64(block.directoryBytes)};
    return contents;
}

std::optional<CacheSuperblock> readSuperblock(int fd, int slot, qint64 length, const ChunkGeometry &geometry)
{
    CacheSuperblock block;
    if (!readAll(fd, reinterpret_cast<char *>(&block), sizeof(block), slot * CacheSlotBytes) ||
        block.magic != CacheMagic || block.version != CacheVersion ||
        block.recordBits != quint32(geometry.recordBits()) || block.checksum != superblockChecksum(block) ||
        block.directoryOffset < quint64(CacheDataStart) || block.directoryOffset > quint64(length) ||
        block.directoryBytes < sizeof(CacheDirectoryHead) ||
        block.directoryBytes > quint64(CacheDirectoryLimit) ||
        block.directoryBytes > quint64(length) - block.directoryOffset)
        return std::nullopt;
    return block;
}

// Opens a regular file without following a link and without waiting on a
// pipe; -1 when there is none.
int openRegular(const QByteArray &name, int mode)
{
    const int fd = ::open(name.constData(), mode | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat status {};
    if (fd >= 0 && (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A file of this program's own in dir, already gone from the directory.
std::shared_ptr<CacheFile> privateFile(const QString &dir)
{
    QByteArray name = QFile::encodeName(dir + QStringLiteral("/.quillfern-trend-XXXXXX"));
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    ::unlink(name.constData());
    return std::make_shared<CacheFile>(fd, true);
}

} // namespace

quint64 cacheChecksum(std::span<const char> bytes)
{
    // Four lanes, each step one-to-one in the lane and in the word it takes:
    // a word that differs always leaves a different sum.
    constexpr quint64 K1 = 0x9E3779B97F4A7C15ULL;
    constexpr quint64 K2 = 0xC2B2AE3D27D4EB4FULL;
    const auto step = [](quint64 h, quint64 w) { return std::rotl(h ^ (w * K1), 31) * K2; };
    std::array<quint64, 4> lanes{0x165667B19E3779F9ULL, 0x27D4EB2F165667C5ULL, 0x85EBCA77C2B2AE63ULL,
                                 quint64(bytes.size())};
    const char *p = bytes.data();
    std::size_t left = bytes.size();
    for (; left >= 32; p += 32, left -= 32) {
        for (std::size_t lane = 0; lane < 4; ++lane) {
            quint64 w;
            std::memcpy(&w, p + 8 * lane, 8);
            lanes[lane] = step(lanes[lane], w);
        }
    }
    for (std::size_t lane = 0; left > 0; ++lane) {
        quint64 w = 0;
        const std::size_t n = std::min<std::size_t>(left, 8);
        std::memcpy(&w, p, n);
        lanes[lane] = step(lanes[lane], w);
        p += n;
        left -= n;
    }
    quint64 h = lanes[0];
    for (std::size_t lane = 1; lane < 4; ++lane)
        h = step(h, lanes[lane]);
    h ^= h >> 33;
    h *= K1;
    return h ^ (h >> 29);
}

CacheFile::~CacheFile()
{
    ::close(m_fd);
}

qint64 CacheFile::length() const
{
    struct stat status {};
    return ::fstat(m_fd, &status) == 0 ? qint64(status.st_size) : -1;
}

std::optional<CacheContents> readCache(const QString &path, const ChunkGeometry &geometry)
{
    const QByteArray name = QFile::encodeName(path);
    bool writable = true;
    int fd = openRegular(name, O_RDWR);
    if (fd < 0 && errno != ENOENT && errno != ELOOP) {
        writable = false;
        fd = openRegular(name, O_RDONLY);
    }
    if (fd < 0)
        return std::nullopt;
    const auto file = std::make_shared<CacheFile>(fd, writable);
    const qint64 length = file->length();
    if (length < CacheDataStart)
        return std::nullopt;
    std::vector<CacheSuperblock> blocks;
    for (int slot = 0; slot < 2; ++slot) {
        if (const auto block = readSuperblock(fd, slot, length, geometry))
            blocks.push_back(*block);
    }
    std::sort(blocks.begin(), blocks.end(),
              [](const auto &a, const auto &b) { return a.generation > b.generation; });
    // The newer state, or the one before it when the newer's directory is
    // not whole.
    for (const CacheSuperblock &block : blocks) {
        if (auto contents = readDirectory(file, block, length, geometry))
            return contents;
    }
    return std::nullopt;
}

MappedChunk::MappedChunk(std::shared_ptr<CacheFile> file, const CacheChunkEntry &entry,
                         const ChunkGeometry &geometry)
    : m_file(std::move(file)), m_entry(entry), m_geometry(geometry)
{
}

MappedChunk::~MappedChunk()
{
    unmap();
}

void MappedChunk::unmap()
{
    if (m_base)
        ::munmap(m_base, std::size_t(m_mappedBytes));
    m_base = nullptr;
}

bool MappedChunk::map()
{
    if (m_base)
        return true;
    const qint64 extent = m_geometry.extentBytes(qint64(m_entry.runs));
    if (m_failed || m_file->length() < qint64(m_entry.offset) + extent) {
        m_failed = true;
        return false;
    }
    const qint64 page = ::sysconf(_SC_PAGESIZE);
    const qint64 start = qint64(m_entry.offset) / page * page;
    m_skew = qint64(m_entry.offset) - start;
    m_mappedBytes = m_skew + extent;
    void *base = ::mmap(nullptr, std::size_t(m_mappedBytes), PROT_READ, MAP_SHARED, m_file->fd(), start);
    if (base == MAP_FAILED) {
        m_failed = true;
        return false;
    }
    // Each granule is read ahead on its own when first used; no other pages.
    // The head (the checksums and the top levels, what a wide view reads) in
    // one read.
    ::madvise(base, std::size_t(m_mappedBytes), MADV_RANDOM);
    m_base = static_cast<char *>(base);
    const int head = m_geometry.levels() > 1 ? ChunkGeometry::levelSection(1) : ChunkGeometry::MomentSection;
    ::madvise(m_base, std::size_t(m_skew + m_geometry.sectionOffset(head)), MADV_WILLNEED);
    m_checked.assign(std::size_t(m_geometry.sumCount()), false);
    m_windows.assign(window(m_base + m_mappedBytes - 1) + 1, 0);
    return true;
}

std::size_t MappedChunk::window(const char *at) const
{
    return std::size_t((quintptr(at) - quintptr(m_base) / WindowBytes * WindowBytes) / WindowBytes);
}

void MappedChunk::use(const char *from, qint64 length, quint64 view)
{
    for (std::size_t w = window(from); w <= window(from + length - 1); ++w) {
        if (m_windows[w] == 0)
            ++m_residentWindows;
        m_windows[w] = std::max(m_windows[w], view);
    }
}

void MappedChunk::residentViews(std::vector<quint64> &views) const
{
    for (const quint64 view : m_windows) {
        if (view != 0)
            views.push_back(view);
    }
}

void MappedChunk::releaseBefore(quint64 view)
{
    const auto windowStart = [this](std::size_t w) {
        return std::max(m_base, reinterpret_cast<char *>(quintptr(m_base) / WindowBytes * WindowBytes +
                                                         quintptr(w) * WindowBytes));
    };
    const auto granuleStart = [this](int section, qint64 g) {
        return m_base + m_skew + m_geometry.sectionOffset(section) + g * ChunkGeometry::GranuleBytes;
    };
    for (std::size_t w = 0; w < m_windows.size(); ++w) {
        if (m_windows[w] == 0 || m_windows[w] >= view)
            continue;
        char *start = windowStart(w);
        char *end = std::min(m_base + m_mappedBytes, windowStart(w + 1));
        ::madvise(start, std::size_t(end - start), MADV_DONTNEED);
        m_windows[w] = 0;
        --m_residentWindows;
        // What was let go is read, and so checked, again.
        m_sumsChecked = m_sumsChecked && window(m_base + m_skew) != w &&
                        window(m_base + m_skew + m_geometry.sumCount() * 8 - 1) != w;
        for (int s = 0; s < m_geometry.sectionCount(); ++s) {
            for (qint64 g = 0; g < ChunkGeometry::granules(sectionBytes(s)); ++g) {
                const char *from = granuleStart(s, g);
                if (from < end && from + ChunkGeometry::GranuleBytes > start)
                    m_checked[std::size_t(m_geometry.sumIndex(s) + g)] = false;
            }
        }
    }
}

bool MappedChunk::checkSums()
{
    const auto sums =
        std::span<const char>(m_base + m_skew, std::size_t(m_geometry.sumCount()) * sizeof(quint64));
    ::madvise(m_base, std::size_t(m_skew) + sums.size(), MADV_WILLNEED);
    m_sumsChecked = cacheChecksum(sums) == m_entry.sumsChecksum;
    return m_sumsChecked;
}

bool MappedChunk::checkGranule(int section, qint64 granule)
{
    const qint64 from = granule * ChunkGeometry::GranuleBytes;
    const qint64 length = std::min(ChunkGeometry::GranuleBytes, sectionBytes(section) - from);
    const char *bytes = m_base + m_skew + m_geometry.sectionOffset(section) + from;
    // A file cut short since it was mapped would fault on the missing pages.
    if (m_file->length() < qint64(m_entry.offset) + m_geometry.sectionOffset(section) + from + length ||
        (!m_sumsChecked && !checkSums()))
        return false;
    const qint64 page = ::sysconf(_SC_PAGESIZE);
    const char *first = m_base + (bytes - m_base) / page * page;
    ::madvise(const_cast<char *>(first), std::size_t(bytes + length - first), MADV_WILLNEED);
    quint64 sum = 0;
    std::memcpy(&sum, m_base + m_skew + qint64(sizeof(quint64)) * (m_geometry.sumIndex(section) + granule),
                sizeof(sum));
    if (cacheChecksum({bytes, std::size_t(length)}) != sum)
        return false;
    if (section == ChunkGeometry::MomentSection) {
        const auto *moments = reinterpret_cast<const qint64 *>(bytes);
        const qint64 count = length / qint64(sizeof(qint64));
        const bool last = from + length == sectionBytes(section);
        return std::is_sorted(moments, moments + count) &&
               (from > 0 || moments[0] == m_entry.summary.first) &&
               (!last || moments[count - 1] == m_entry.summary.last);
    }
    return true; // rowid runs are checked whole (section())
}

const char *MappedChunk::bytes(int section, qint64 from, qint64 length, quint64 view)
{
    if (m_failed || section < 0 || section >= m_geometry.sectionCount() || from < 0 || length <= 0 ||
        length > sectionBytes(section) - from || !map())
        return nullptr;
    const qint64 first = from / ChunkGeometry::GranuleBytes;
    const qint64 last = (from + length - 1) / ChunkGeometry::GranuleBytes;
    for (qint64 granule = first; granule <= last; ++granule) {
        const std::size_t flag = std::size_t(m_geometry.sumIndex(section) + granule);
        if (m_checked[flag])
            continue;
        if (!checkGranule(section, granule)) {
            m_failed = true;
            return nullptr;
        }
        m_checked[flag] = true;
        const qint64 start = granule * ChunkGeometry::GranuleBytes;
        use(m_base + m_skew + m_geometry.sectionOffset(section) + start,
            std::min(ChunkGeometry::GranuleBytes, sectionBytes(section) - start), view);
        use(m_base + m_skew, m_geometry.sumCount() * 8, view);
    }
    const char *bytes = m_base + m_skew + m_geometry.sectionOffset(section) + from;
    use(bytes, length, view);
    return bytes;
}

std::span<const char> MappedChunk::section(int section, quint64 view)
{
    const qint64 length = sectionBytes(section);
    const char *bytes = this->bytes(section, 0, length, view);
    if (bytes && section == m_geometry.runSection() &&
        !validRuns(reinterpret_cast<const RowidRun *>(bytes), qint64(m_entry.runs), qint64(m_entry.count))) {
        m_failed = true;
        return {};
    }
    return bytes ? std::span<const char>(bytes, std::size_t(length)) : std::span<const char>();
}

CacheWriter::CacheWriter(std::shared_ptr<CacheFile> file, const ChunkGeometry &geometry, bool isPrivate)
    : m_file(std::move(file)), m_geometry(geometry), m_private(isPrivate)
{
}

CacheWriter::~CacheWriter()
{
    if (!m_private)
        ::flock(m_file->fd(), LOCK_UN);
}

std::unique_ptr<CacheWriter> CacheWriter::create(const QString &path, const ChunkGeometry &geometry)
{
    const QFileInfo info(path);
    const QByteArray name = QFile::encodeName(info.absoluteFilePath());
    // A cache another viewer is writing stays its own.
    const int current = openRegular(name, O_RDONLY);
    const bool taken = current >= 0 && ::flock(current, LOCK_SH | LOCK_NB) != 0;
    if (current >= 0)
        ::close(current);
    QByteArray temporary = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                                             QStringLiteral(".XXXXXX"));
    const int fd = taken ? -1 : ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd >= 0) {
        ::fchmod(fd, 0644);
        ::flock(fd, LOCK_EX | LOCK_NB);
        // rename replaces a link or another name of a file, never its target.
        if (::rename(temporary.constData(), name.constData()) == 0)
            return std::unique_ptr<CacheWriter>(
                new CacheWriter(std::make_shared<CacheFile>(fd, true), geometry, false));
        ::unlink(temporary.constData());
        ::close(fd);
    }
    auto file = privateFile(info.absolutePath());
    if (!file)
        file = privateFile(QDir::tempPath());
    return file ? std::unique_ptr<CacheWriter>(new CacheWriter(std::move(file), geometry, true)) : nullptr;
}

std::unique_ptr<CacheWriter> CacheWriter::resume(const QString &path, const ChunkGeometry &geometry,
                                                 const CacheContents &contents)
{
    struct stat status {};
    const int fd = contents.file->fd();
    if (!contents.file->writable() || ::fstat(fd, &status) != 0 || status.st_nlink != 1)
        return nullptr;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK)
            return nullptr;
        auto file = privateFile(QFileInfo(path).absolutePath());
        return file ? std::unique_ptr<CacheWriter>(new CacheWriter(std::move(file), geometry, true))
                    : nullptr;
    }
    std::unique_ptr<CacheWriter> writer(new CacheWriter(contents.file, geometry, false));
    writer->m_chunks = contents.chunks;
    writer->m_generation = contents.generation;
    writer->m_directory = contents.directory;
    return writer;
}

std::vector<std::array<qint64, 2>> CacheWriter::committedExtents() const
{
    std::vector<std::array<qint64, 2>> extents{{0, CacheDataStart}, m_directory};
    for (const CacheChunkEntry &chunk : m_chunks)
        extents.push_back({qint64(chunk.offset), m_geometry.extentBytes(qint64(chunk.runs))});
    extents.insert(extents.end(), m_pending.begin(), m_pending.end());
    return extents;
}

qint64 CacheWriter::allocate(qint64 bytes, const std::vector<std::array<qint64, 2>> &taken) const
{
    auto sorted = taken;
    std::sort(sorted.begin(), sorted.end());
    qint64 at = CacheDataStart;
    for (const auto &[offset, length] : sorted) {
        if (offset >= at + bytes)
            return at;
        at = std::max(at, alignUp(offset + length, CacheExtentAlignment));
    }
    return at;
}

std::optional<CacheChunkEntry> CacheWriter::writeSections(const MemoryChunk &chunk)
{
    CacheChunkEntry entry;
    entry.count = quint64(chunk.count());
    entry.runs = quint64(chunk.runs().size());
    entry.summary = chunk.summary();
    const qint64 extent = m_geometry.extentBytes(qint64(entry.runs));
    const qint64 offset = m_private ? m_end : allocate(extent, committedExtents());
    struct stat before {};
    if (::fstat(m_file->fd(), &before) != 0) {
        m_problem = QString::fromLocal8Bit(std::strerror(errno));
        return std::nullopt;
    }
    const qint64 growth = offset + extent - qint64(before.st_size);
    struct statvfs disk {};
    if (growth > 0 && ::fstatvfs(m_file->fd(), &disk) == 0) {
        const qint64 unit = qint64(disk.f_frsize);
        const qint64 free = qint64(disk.f_bavail) * unit;
        const qint64 reserve = m_reserve.bytesOf(qint64(disk.f_blocks) * unit);
        if (free - growth < reserve) {
            m_problem = QStringLiteral("its disk has %1 MB free; %2 MB more would leave less than the "
                                       "%3 MB kept free for the store")
                            .arg(free >> 20)
                            .arg((growth + (1 << 20) - 1) >> 20)
                            .arg(reserve >> 20);
            return std::nullopt;
        }
    }
    // A write cut short (the disk full after all) gives back what it took.
    auto fail = [&] {
        m_problem = QString::fromLocal8Bit(std::strerror(errno));
        if (growth > 0 && ::ftruncate(m_file->fd(), before.st_size) != 0)
            m_problem += QStringLiteral(", and what it wrote could not be given back");
        return std::nullopt;
    };
    std::vector<quint64> sums(std::size_t(m_geometry.sumCount()), 0);
    for (int s = 0; s < m_geometry.sectionCount(); ++s) {
        const std::span<const char> bytes = chunk.section(s);
        if (!writeAll(m_file->fd(), bytes, offset + m_geometry.sectionOffset(s)))
            return fail();
        for (qint64 g = 0; g < ChunkGeometry::granules(qint64(bytes.size())); ++g)
            sums[std::size_t(m_geometry.sumIndex(s) + g)] =
                cacheChecksum(bytes.subspan(std::size_t(g * ChunkGeometry::GranuleBytes))
                                  .first(std::min<std::size_t>(
                                      ChunkGeometry::GranuleBytes,
                                      bytes.size() - std::size_t(g * ChunkGeometry::GranuleBytes))));
    }
    const std::span<const char> table(reinterpret_cast<const char *>(sums.data()),
                                      sums.size() * sizeof(quint64));
    if (!writeAll(m_file->fd(), table, offset))
        return fail();
    entry.sumsChecksum = cacheChecksum(table);
    entry.offset = quint64(offset);
    // Written out and dropped from the file cache: read back, the chunk comes
    // in pages the kernel maps one window at a time (just written, it would
    // lie in large pages mapped whole), and a build does not push the
    // station's store out of the file cache.
    ::sync_file_range(m_file->fd(), offset, extent,
                      SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    ::posix_fadvise(m_file->fd(), offset, extent, POSIX_FADV_DONTNEED);
    m_pending.push_back({offset, extent});
    m_end = std::max(m_end, alignUp(offset + extent, CacheExtentAlignment));
    return entry;
}

bool CacheWriter::commit(const std::vector<CacheChunkEntry> &chunks, const CacheOrigin &origin)
{
    if (m_private) {
        m_chunks = chunks;
        m_pending.clear();
        return true;
    }
    const QByteArray directory = directoryBytes(origin, chunks);
    CacheSuperblock block;
    block.recordBits = quint32(m_geometry.recordBits());
    block.generation = m_generation + 1;
    block.directoryOffset = quint64(allocate(directory.size(), committedExtents()));
    block.directoryBytes = quint64(directory.size());
    block.directoryChecksum = cacheChecksum(directory);
    block.checksum = superblockChecksum(block);
    // The new state lies where the current one does not; the superblock the
    // current state does not use makes it current.
    if (!writeAll(m_file->fd(), directory, qint64(block.directoryOffset)) ||
        !writeAll(m_file->fd(), bytesOf(block), qint64(block.generation % 2) * CacheSlotBytes)) {
        m_problem = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    m_chunks = chunks;
    m_pending.clear();
    m_generation = block.generation;
    m_directory = {qint64(block.directoryOffset), qint64(block.directoryBytes)};
    return true;
}

std::optional<CacheChunkEntry> CacheWriter::writeChunk(const MemoryChunk &chunk, const CacheOrigin &origin)
{
    std::vector<CacheChunkEntry> chunks = m_chunks;
    if (!chunks.empty() && chunks.back().count != quint64(m_geometry.records()))
        chunks.pop_back();
    const auto entry = writeSections(chunk);
    if (!entry) {
        m_pending.clear();
        return std::nullopt;
    }
    chunks.push_back(*entry);
    if (!commit(chunks, origin)) {
        m_pending.clear();
        return std::nullopt;
    }
    return entry;
}

bool CacheWriter::writeTail(const MemoryChunk &tail, const CacheOrigin &origin)
{
    std::vector<CacheChunkEntry> chunks = m_chunks;
    if (!chunks.empty() && chunks.back().count != quint64(m_geometry.records()))
        chunks.pop_back();
    if (!tail.empty()) {
        const auto entry = writeSections(tail);
        if (!entry) {
            m_pending.clear();
            return false;
        }
        chunks.push_back(*entry);
    }
    const bool written = commit(chunks, origin);
    m_pending.clear();
    return written;
}

QString trendCachePath(const QString &storePath)
{
    const QFileInfo store(storePath);
    if (QFileInfo(store.absolutePath()).isWritable())
        return store.absoluteFilePath() + CacheSuffix;
    const QByteArray hash =
        QCryptographicHash::hash(store.absoluteFilePath().toUtf8(), QCryptographicHash::Sha1).toHex();
    const QString dir =
        QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/quillfern");
    QDir().mkpath(dir);
    return dir + QStringLiteral("/velk-") + QString::fromLatin1(hash.left(CacheNameHashLength)) + CacheSuffix;
}

} // namespace qf
