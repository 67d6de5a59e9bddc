#pragma once

// The trend viewer's cache file (velk.mdb.trend): the records as the plot
// needs them, in chunks the viewer maps instead of reading, so that a view
// costs what it shows whatever the history's length. It is only a cache:
// anything in it that does not match is never used, and deleting it is
// always safe.
//
// The file: two superblocks at its start; the newer of the two that is whole
// tells where the directory lies. The directory names the store the records
// came from (its first and its newest record, the time zone) and lists the
// chunks: where each lies, its summary and the checksum of its table of
// checksums, which holds one per 64 KB of each of its sections. Chunks
// once written are never written again, except the newest when it held
// fewer records than a chunk. A new state is written to room the current
// one does not use, then made current by the other superblock, so a program
// killed at any moment leaves the last state whole.

#include "store/storefollower.h"
#include "trend/trendchunk.h"

#include <QString>

#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace qf {

// A checksum that changes whenever any one 8-byte word of the bytes changes,
// so every single flipped bit or byte is seen.
quint64 cacheChecksum(std::span<const char> bytes);

inline constexpr std::array<char, 8> CacheMagic{'Q', 'F', 'T', 'R', 'E', 'N', 'D', '2'};
inline constexpr quint32 CacheVersion = 2;
inline constexpr qint64 CacheSlotBytes = 4096; // each superblock
inline constexpr qint64 CacheDataStart = 2 * CacheSlotBytes;
inline constexpr qint64 CacheExtentAlignment = 4096;
inline constexpr qint64 CacheDirectoryLimit = qint64(64) << 20;

struct CacheSuperblock {
    std::array<char, 8> magic = CacheMagic;
    quint32 version = CacheVersion;
    quint32 recordBits = 0;
    quint64 generation = 0;
    quint64 directoryOffset = 0;
    quint64 directoryBytes = 0;
    quint64 directoryChecksum = 0;
    quint64 checksum = 0; // of the fields above
};

// The directory starts with this head, then the texts (the zone, the Sr No
// and stamp of the first and of the newest record), zeros up to a multiple
// of 8 bytes, and an entry per chunk.
struct CacheDirectoryHead {
    quint64 chunkCount = 0;
    qint64 firstRowid = 0;
    qint64 lastRowid = 0;
    qint64 clock = 0;
    quint32 hasClock = 0;
    quint32 zoneBytes = 0;
    quint32 firstSrNoBytes = 0;
    quint32 firstStampBytes = 0;
    quint32 lastSrNoBytes = 0;
    quint32 lastStampBytes = 0;
};

struct CacheChunkEntry {
    quint64 offset = 0; // in the file, a multiple of CacheExtentAlignment
    quint64 count = 0;  // records; a chunk's worth for all but the newest
    quint64 runs = 0;   // rowid runs
    BlockSummary summary;
    quint64 sumsChecksum = 0; // of the chunk's table of checksums
};

// Where the records of a cache file came from and where the stamp clock
// stood after its newest record.
struct CacheOrigin {
    QByteArray zone;
    RecordKey first;
    RecordKey last;
    std::optional<qint64> clock;
    bool operator==(const CacheOrigin &) const = default;
};

// An open cache file; chunks mapped from it keep it open.
class CacheFile {
public:
    CacheFile(int fd, bool writable) : m_fd(fd), m_writable(writable) {}
    ~CacheFile();
    CacheFile(const CacheFile &) = delete;
    CacheFile &operator=(const CacheFile &) = delete;
    int fd() const { return m_fd; }
    bool writable() const { return m_writable; }
    // The file's length now, -1 when it cannot be told.
    qint64 length() const;

private:
    int m_fd = -1;
    bool m_writable = false;
};

// What a cache file holds, as read at open; it is checked against the store
// before it is used.
struct CacheContents {
    CacheOrigin origin;
    std::vector<CacheChunkEntry> chunks; // in record order
    std::shared_ptr<CacheFile> file;
    quint64 generation = 0;
    std::array<qint64, 2> directory{}; // its offset and length in the file
};

// Reads the superblocks and the directory of the cache file at path;
// nothing when there is none that can be used: missing, a link, of another
// version or chunk size, damaged or cut short. Every size is bounded by the
// file's own length before anything is allocated.
std::optional<CacheContents> readCache(const QString &path, const ChunkGeometry &geometry);

// A chunk of a cache file, mapped into memory when first read. Each granule
// of a section is checked against its checksum (moments and rowid runs also
// for their order) the first time it is read after mapping; one that does
// not match is never handed out. The kernel maps the file's pages around a
// page read in windows of 64 KB: each window in memory keeps the number of
// the view that read it last, so that what no recent view read can be let
// go (and is checked again when read again).
class MappedChunk {
public:
    static constexpr qint64 WindowBytes = 65536;

    MappedChunk(std::shared_ptr<CacheFile> file, const CacheChunkEntry &entry, const ChunkGeometry &geometry);
    ~MappedChunk();
    MappedChunk(const MappedChunk &) = delete;
    MappedChunk &operator=(const MappedChunk &) = delete;

    const CacheChunkEntry &entry() const { return m_entry; }
    qint64 sectionBytes(int section) const
    {
        return m_geometry.sectionBytes(section, qint64(m_entry.count), qint64(m_entry.runs));
    }
    // The bytes [from, from + length) of a section once checked, read by
    // view; nullptr when they lie outside it, cannot be mapped or do not
    // match.
    const char *bytes(int section, qint64 from, qint64 length, quint64 view = 1);
    std::span<const char> section(int section, quint64 view = 1);

    qint64 residentBytes() const { return m_residentWindows * WindowBytes; }
    // Adds the views that last read each window in memory.
    void residentViews(std::vector<quint64> &views) const;
    // Lets go of the windows last read before view.
    void releaseBefore(quint64 view);

private:
    bool map();
    void unmap();
    bool checkSums();
    bool checkGranule(int section, qint64 granule);
    // Notes that view read [from, from + length) of the mapping.
    void use(const char *from, qint64 length, quint64 view);
    std::size_t window(const char *at) const;

    std::shared_ptr<CacheFile> m_file;
    CacheChunkEntry m_entry;
    ChunkGeometry m_geometry;
    char *m_base = nullptr; // the mapping
    qint64 m_mappedBytes = 0;
    qint64 m_skew = 0; // from the mapping's start to the chunk's
    bool m_sumsChecked = false;
    std::vector<bool> m_checked;    // a flag per granule (per checksum)
    std::vector<quint64> m_windows; // the view that read each last, 0: none
    qint64 m_residentWindows = 0;
    bool m_failed = false;
};

// What a cache file leaves free on its disk, which it mostly shares with the
// station's store: the lesser of a gibibyte and a share of the disk.
struct DiskReserve {
    qint64 atMost = qint64(1) << 30;
    qint64 shareDivisor = 10; // a tenth
    qint64 bytesOf(qint64 diskBytes) const { return std::min(atMost, diskBytes / shareDivisor); }
};

// Writes a cache file: chunks as they fill, the newest records when asked,
// each followed by the cache's new state.
class CacheWriter {
public:
    // A new cache at path, replacing whatever is there (a link or another
    // name of some file is replaced, never written through). When path
    // cannot be taken (another viewer writes it, or its directory cannot be
    // written) the chunks go to a file of this program's own that goes away
    // with it.
    static std::unique_ptr<CacheWriter> create(const QString &path, const ChunkGeometry &geometry);
    // Goes on writing the cache at path read as contents. While another
    // viewer writes it, the chunks to come go to a file of this program's
    // own; nothing when it is not this program's to write (read-only,
    // another name of a file): it is then made anew.
    static std::unique_ptr<CacheWriter> resume(const QString &path, const ChunkGeometry &geometry,
                                               const CacheContents &contents);
    ~CacheWriter(); // lets go of the file for other viewers

    // Writes a full chunk, then the cache's state with it as the newest;
    // its entry, nothing when the file cannot take it.
    std::optional<CacheChunkEntry> writeChunk(const MemoryChunk &chunk, const CacheOrigin &origin);
    // Writes the newest records (fewer than a chunk) and the state.
    bool writeTail(const MemoryChunk &tail, const CacheOrigin &origin);
    const std::shared_ptr<CacheFile> &file() const { return m_file; }
    bool isPrivate() const { return m_private; }
    // A chunk that would leave less than reserve free on the disk is not
    // written (the store's records come first).
    void setDiskReserve(const DiskReserve &reserve) { m_reserve = reserve; }
    // Why the last write failed; empty while none did.
    const QString &problem() const { return m_problem; }

private:
    CacheWriter(std::shared_ptr<CacheFile> file, const ChunkGeometry &geometry, bool isPrivate);
    std::optional<CacheChunkEntry> writeSections(const MemoryChunk &chunk);
    bool commit(const std::vector<CacheChunkEntry> &chunks, const CacheOrigin &origin);
    qint64 allocate(qint64 bytes, const std::vector<std::array<qint64, 2>> &taken) const;
    std::vector<std::array<qint64, 2>> committedExtents() const;

    std::shared_ptr<CacheFile> m_file;
    ChunkGeometry m_geometry;
    bool m_private = false;
    std::vector<CacheChunkEntry> m_chunks;        // as committed, the last maybe short
    std::vector<std::array<qint64, 2>> m_pending; // written, not yet committed
    quint64 m_generation = 0;
    std::array<qint64, 2> m_directory{};
    qint64 m_end = CacheDataStart; // a private file's next chunk
    DiskReserve m_reserve;
    QString m_problem;
};

// The cache file for the store at storePath: beside it when its directory
// can be written, else in the user's cache directory under a name made from
// the store's path.
QString trendCachePath(const QString &storePath);

} // namespace qf
