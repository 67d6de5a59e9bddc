#include "trend/trendfeed.h"

#include "store/storemaintenance.h"

#include <QVariantList>

namespace qf {

namespace {

constexpr qsizetype ReadBatch = 65536;  // records per read while catching up
constexpr qint64 PollLimit = 262144;    // records read at most per poll
constexpr qsizetype ExportBatch = 4096; // records per read while exporting
constexpr qsizetype ExportBuffer = 1 << 16;

QByteArray zoneId()
{
    return QTimeZone::systemTimeZoneId();
}

QByteArray textOf(const std::optional<std::string_view> &text)
{
    return text ? QByteArray(text->data(), qsizetype(text->size())) : QByteArray();
}

} // namespace

// What reading the store takes: used by one thread at a time (catchUp's,
// then the one that polls).
struct TrendFeed::Reading {
    Reading(const QString &storePath, const ChunkGeometry &geometry, const FollowMark &mark = {})
        : store(std::make_unique<StoreFollower>(storePath, mark)), tail(geometry)
    {
    }

    std::unique_ptr<StoreFollower> store;
    StampClock clock;
    MemoryChunk tail; // the records after the last full chunk
    std::unique_ptr<CacheWriter> writer;
    bool writeFailed = false; // the cache file stays as it was until a start again
    qint64 tailWritten = -1;  // records of the tail the cache file holds
    qint64 undrawn = 0;       // records read before any had a readable stamp
    // The moment of the first readable stamp after undrawn records: the
    // store is read again from its first record, those records at it.
    std::optional<qint64> firstMoment;
};

TrendFeed::TrendFeed(const QString &storePath, const ChunkGeometry &geometry)
    : m_storePath(storePath), m_cachePath(trendCachePath(storePath)), m_geometry(geometry), m_data(geometry),
      m_lookup(std::make_unique<StoreFollower>(storePath)),
      m_reading(std::make_unique<Reading>(storePath, geometry))
{
}

TrendFeed::~TrendFeed() = default;

bool TrendFeed::openCache()
{
    std::optional<CacheContents> contents = readCache(m_cachePath, m_geometry);
    return contents && contents->origin.zone == zoneId() && useCache(std::move(*contents));
}

bool TrendFeed::useCache(CacheContents contents)
{
    // A cache that another viewer writes is read as it is; one this program
    // may not write (a link, another name of a file) is built again.
    auto writer = CacheWriter::resume(m_cachePath, m_geometry, contents);
    if (!writer)
        return false;
    writer->setDiskReserve(m_diskReserve);
    const CacheOrigin &origin = contents.origin;
    auto reading = std::make_unique<Reading>(m_storePath, m_geometry, FollowMark{origin.first, origin.last});
    if (reading->store->poll() == StoreChange::Restarted)
        return false;
    const CacheChunkEntry &newest = contents.chunks.back();
    const bool newestShort = newest.count < quint64(m_geometry.records());
    if (newestShort) {
        MappedChunk mapped(contents.file, newest, m_geometry);
        std::array<std::span<const char>, ChunkGeometry::MaxSections> sections;
        for (int s = 0; s < m_geometry.sectionCount(); ++s)
            if ((sections[std::size_t(s)] = mapped.section(s)).empty())
                return false;
        std::optional<MemoryChunk> tail =
            MemoryChunk::fromSections(m_geometry, qint64(newest.count), sections);
        if (!tail)
            return false;
        reading->tail = std::move(*tail);
        reading->tailWritten = reading->tail.count();
    }
    reading->clock.resume(origin.clock);
    reading->writer = std::move(writer);
    m_data.clear();
    m_data.setTail(nullptr);
    for (std::size_t c = 0; c + (newestShort ? 1 : 0) < contents.chunks.size(); ++c)
        m_data.addChunk(contents.file, contents.chunks[c]);
    m_reading = std::move(reading);
    return true;
}

void TrendFeed::catchUp(const Progress &progress, const std::atomic<bool> *stop)
{
    if (m_reading->store->poll() == StoreChange::Restarted)
        startAgain(std::nullopt);
    readNew(std::numeric_limits<qint64>::max(), progress, stop);
    const std::lock_guard lock(m_builtLock);
    m_caughtUp = true;
}

bool TrendFeed::takeBuilt()
{
    std::vector<BuiltChunk> built;
    bool startedAgain = false;
    bool caughtUp = false;
    {
        const std::lock_guard lock(m_builtLock);
        built.swap(m_built);
        startedAgain = std::exchange(m_startedAgain, false);
        caughtUp = m_caughtUp;
    }
    if (startedAgain)
        m_data.clear();
    for (BuiltChunk &chunk : built) {
        if (chunk.memory)
            m_data.addChunk(std::move(*chunk.memory));
        else
            m_data.addChunk(chunk.file, chunk.entry);
    }
    m_data.setTail(caughtUp ? &m_reading->tail : nullptr);
    return startedAgain || !built.empty();
}

bool TrendFeed::load(const Progress &progress)
{
    const bool cached = openCache();
    catchUp(progress);
    takeBuilt();
    return cached;
}

TrendFeed::Change TrendFeed::poll()
{
    const bool restarted = m_reading->store->poll() == StoreChange::Restarted;
    if (restarted)
        startAgain(std::nullopt);
    const qint64 read = readNew(PollLimit);
    takeBuilt();
    if (restarted)
        return Change::Reset;
    return read > 0 ? Change::Appended : Change::None;
}

void TrendFeed::restart()
{
    {
        const std::lock_guard lock(m_builtLock);
        m_caughtUp = false;
    }
    m_data.setTail(nullptr);
    startAgain(std::nullopt);
    takeBuilt();
}

void TrendFeed::startAgain(std::optional<qint64> firstMoment)
{
    // In place: data() may point at the tail.
    Reading &r = *m_reading;
    r.store = std::make_unique<StoreFollower>(m_storePath);
    r.clock.resume(firstMoment);
    r.tail.clear();
    r.writer.reset(); // the next write makes a new cache file
    r.writeFailed = false;
    r.tailWritten = -1;
    r.undrawn = 0;
    r.firstMoment.reset();
    const std::lock_guard lock(m_builtLock);
    m_built.clear();
    m_startedAgain = true;
    m_cacheProblem.clear();
}

qint64 TrendFeed::readNew(qint64 limit, const Progress &progress, const std::atomic<bool> *stop)
{
    const auto sink = [this](const RecordView &record) { take(record); };
    const std::optional<RecordKey> before = m_reading->store->mark().last;
    qint64 read = 0;
    std::optional<qint64> estimate;
    while (read < limit && !(stop && stop->load())) {
        const qsizetype batch = qsizetype(std::min<qint64>(ReadBatch, limit - read));
        const qsizetype n = m_reading->store->next(batch, sink);
        read += n;
        if (m_reading->firstMoment) {
            startAgain(m_reading->firstMoment);
            continue;
        }
        if (progress && n > 0) {
            // Rowids tell how many records are left, unless they have gaps.
            if (!estimate) {
                const auto &mark = m_reading->store->mark();
                const qint64 from = before ? before->rowid : mark.first->rowid - 1;
                estimate = std::max<qint64>(read, m_reading->store->newestRowid() - from);
            }
            progress(read, std::max(*estimate, read));
        }
        if (n < batch)
            break;
    }
    return read;
}

void TrendFeed::take(const RecordView &record)
{
    Reading &r = *m_reading;
    if (r.firstMoment)
        return; // the store is read again from its first record
    const std::optional<qint64> moment =
        r.clock.next(record.stamp ? parseWallClock(*record.stamp) : std::nullopt);
    if (!moment) {
        ++r.undrawn;
        return;
    }
    if (r.undrawn > 0) {
        r.firstMoment = moment;
        return;
    }
    SensorValues values;
    for (int s = 0; s < SensorCount; ++s) {
        const auto &value = record.values[std::size_t(s)];
        values[std::size_t(s)] = value ? float(*value) : NoValue;
    }
    r.tail.append(record.rowid, *moment, values);
    if (r.tail.full())
        writeChunk(RecordKey{record.rowid, textOf(record.srNo), textOf(record.stamp)});
}

bool TrendFeed::makeWriter()
{
    Reading &r = *m_reading;
    if (!r.writer && !r.writeFailed) {
        r.writer = CacheWriter::create(m_cachePath, m_geometry);
        if (r.writer)
            r.writer->setDiskReserve(m_diskReserve);
        else
            noteCacheProblem(QStringLiteral("no file can be made for it"));
    }
    return r.writer != nullptr;
}

void TrendFeed::noteCacheProblem(QString problem)
{
    Reading &r = *m_reading;
    r.writer.reset();
    r.writeFailed = true;
    const std::lock_guard lock(m_builtLock);
    m_cacheProblem = std::move(problem);
}

QString TrendFeed::cacheProblem()
{
    const std::lock_guard lock(m_builtLock);
    return m_cacheProblem;
}

void TrendFeed::writeChunk(const RecordKey &last)
{
    Reading &r = *m_reading;
    std::optional<CacheChunkEntry> entry;
    if (makeWriter()) {
        entry = r.writer->writeChunk(r.tail, origin(last));
        if (!entry)
            noteCacheProblem(r.writer->problem());
    }
    BuiltChunk built;
    if (entry) {
        built.file = r.writer->file();
        built.entry = *entry;
        r.tail.clear();
        r.tailWritten = 0;
    } else {
        // The file keeps what it held; this chunk stays in memory.
        built.memory.emplace(std::move(r.tail));
        r.tail = MemoryChunk(m_geometry);
    }
    const std::lock_guard lock(m_builtLock);
    m_built.push_back(std::move(built));
}

CacheOrigin TrendFeed::origin(const RecordKey &last) const
{
    return {zoneId(), *m_reading->store->mark().first, last, m_reading->clock.last()};
}

bool TrendFeed::saveCache()
{
    Reading &r = *m_reading;
    if (r.tail.count() == r.tailWritten || (r.tail.empty() && m_data.chunkCount() == 0))
        return true;
    if (!makeWriter() || !r.store->mark().last)
        return false;
    if (!r.writer->writeTail(r.tail, origin(*r.store->mark().last))) {
        noteCacheProblem(r.writer->problem());
        return false;
    }
    r.tailWritten = r.tail.count();
    return true;
}

void exportRecords(StoreFollower &store, qint64 first, qint64 last, QIODevice &out)
{
    QByteArray buffer = exportHeaderLine();
    auto flush = [&out, &buffer] {
        if (out.write(buffer) != buffer.size())
            throw StationError(ErrorCode::StoreFailed,
                               QStringLiteral("Cannot write the export: %1").arg(out.errorString()));
        buffer.clear();
    };
    const auto text = [](const std::optional<std::string_view> &field) {
        return field ? QVariant(QString::fromUtf8(field->data(), qsizetype(field->size()))) : QVariant();
    };
    QVariantList fields(schema::FieldCount);
    qint64 after = first == std::numeric_limits<qint64>::min() ? first : first - 1;
    for (bool done = false; !done;) {
        const qsizetype read = store.readAfter(after, ExportBatch, [&](const RecordView &record) {
            done = done || record.rowid > last;
            if (done)
                return;
            fields[int(schema::Field::SrNo)] = text(record.srNo);
            fields[int(schema::Field::TimeAndDate)] = text(record.stamp);
            for (int s = 0; s < SensorCount; ++s) {
                const auto &value = record.values[std::size_t(s)];
                fields[schema::sensorField(s)] = value ? QVariant(*value) : QVariant();
            }
            buffer += exportRecordLine(fields);
            after = record.rowid;
        });
        if (buffer.size() >= ExportBuffer)
            flush();
        done = done || read < ExportBatch;
    }
    flush();
}

} // namespace qf
