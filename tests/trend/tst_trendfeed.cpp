#include "support/storefixture.h"
#include "trend/trendfeed.h"

#include <QBuffer>
#include <QImage>
#include <QProcess>
#include <QtEndian>

#include <cstring>
#include <map>

using namespace qf;

namespace {

const QColor Sensor1Color(0xd6, 0x27, 0x28);
const QColor Sensor4Color(0x94, 0x67, 0xbd);
const ChunkGeometry SmallChunks(11); // 2,048 records: levels 1 and 2

QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : "";
}

// Runs quillfern-trend --png on dir; returns its exit code and what it
// wrote on standard error.
std::pair<int, QByteArray> renderPng(const QString &dir, const QString &png)
{
    QProcess trend;
    trend.start(qEnvironmentVariable("QF_BIN_DIR") + "/quillfern-trend",
                {"--png", png, "--size", "800x500", dir});
    trend.waitForFinished();
    return {trend.exitStatus() == QProcess::NormalExit ? trend.exitCode() : -1, trend.readAllStandardError()};
}

int pixelsOf(const QImage &image, const QColor &color)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y) == color ? 1 : 0;
    return count;
}

// The store's records read plainly: rowid, moment, values as blocks of one.
std::vector<std::pair<qint64, BlockSummary>> plainRecords(const StoreFixture &store)
{
    StampClock clock;
    std::vector<std::pair<qint64, BlockSummary>> records;
    for (const QString &row :
         store.column("SELECT rowid, TimeAndDate, Temp1, Temp2, Temp3, Temp4 FROM log")) {
        const QStringList f = row.split('|');
        SensorValues values;
        for (int s = 0; s < SensorCount; ++s)
            values[s] = f[2 + s] == "NULL" ? NoValue : f[2 + s].toFloat();
        records.emplace_back(f[0].toLongLong(),
                             BlockSummary::of(*clock.next(parseWallClock(f[1].toStdString())), values));
    }
    return records;
}

// Records and blocks of every level that data reads otherwise than the plain
// reading gives them, without knowing it met a damaged cache file.
int unseenDifferences(const TrendData &data, const std::vector<std::pair<qint64, BlockSummary>> &plain)
{
    int wrong = data.size() == qint64(plain.size()) ? 0 : 1;
    for (int level = 0; level <= data.topLevel() && !wrong; ++level) {
        for (qint64 b = 0; b < data.blockCount(level); ++b) {
            const qint64 first = b * data.blockRecords(level);
            BlockSummary expected = plain[first].second;
            for (qint64 i = first + 1; i < std::min<qint64>(first + data.blockRecords(level), plain.size());
                 ++i)
                expected.extend(plain[i].second);
            const bool same =
                data.block(level, b) == expected && (level > 0 || data.rowid(b) == plain[b].first);
            wrong += same || data.damaged() ? 0 : 1;
        }
    }
    return wrong;
}

} // namespace

class TestTrendFeed : public QObject {
    Q_OBJECT
private slots:
    // The viewer exports records as the store tool does (a null, a stamp
    // with a comma and quotes); it follows appends and a delete-all, noticed
    // also when more records than before were written again between two
    // polls; its cache is used only while it matches the store (the damage
    // test tells more); it never writes the store.
    void followsTheStoreAndItsCache()
    {
        StoreFixture store;
        store.create(5000);
        store.sql({"UPDATE log SET Temp2 = NULL, TimeAndDate = 'line, \"noise\"' WHERE rowid = 7"});
        QBuffer tool, viewer;
        QVERIFY(tool.open(QIODevice::WriteOnly) && viewer.open(QIODevice::WriteOnly));
        exportStore(store.path(), tool);
        StoreFollower follower(store.path());
        exportRecords(follower, 1, 5000, viewer);
        QCOMPARE(viewer.data(), tool.data());
        const QByteArray before = fileContent(store.path());
        QVERIFY(!TrendFeed(store.path(), SmallChunks).load());
        {
            TrendFeed feed(store.path(), SmallChunks);
            feed.load();
            QCOMPARE(feed.poll(), TrendFeed::Change::None);
            QVERIFY(feed.saveCache());
        }
        QCOMPARE(fileContent(store.path()), before);
        QCOMPARE(store.column("PRAGMA journal_mode"), QStringList{"wal"});
        fillStore(store.path(), 7);
        TrendFeed feed(store.path(), SmallChunks);
        QVERIFY(feed.load());
        QCOMPARE(unseenDifferences(feed.data(), plainRecords(store)), 0);
        fillStore(store.path(), 3);
        QCOMPARE(feed.poll(), TrendFeed::Change::Appended);
        QCOMPARE(feed.data().size(), 5010);
        store.sql({"DELETE FROM log"});
        fillStore(store.path(), 6000);
        QCOMPARE(feed.poll(), TrendFeed::Change::Reset);
        QCOMPARE(unseenDifferences(feed.data(), plainRecords(store)), 0);
        // The chunks read since the delete-all went to a new cache file.
        TrendFeed refilled(store.path(), SmallChunks);
        QVERIFY(refilled.load());
        QCOMPARE(unseenDifferences(refilled.data(), plainRecords(store)), 0);
    }

    // Whatever is wrong with the cache file, the viewer never crashes, reads
    // no value otherwise than the store holds without knowing the file is
    // damaged, and ends with the store's records. A link in the cache's
    // place is replaced, its target left alone.
    void damagedCacheIsNeverBelieved_data()
    {
        QTest::addColumn<QString>("part");
        QTest::addColumn<QString>("damage"); // cut: the file ends in the part; flip: a byte in it
        const QStringList parts{"current superblock",
                                "older superblock",
                                "directory",
                                "checksums",
                                "moments",
                                "values",
                                "level 1",
                                "level 2",
                                "rowid runs",
                                "newest records"};
        for (const QString &part : parts)
            for (const char *damage : {"cut", "flip"})
                QTest::addRow("%s %s", damage, qPrintable(part)) << part << QString(damage);
        for (const char *damage : {"100000000000 chunks", "4000000000 records", "a directory of 1e11 bytes",
                                   "an older version", "another store's", "a link"})
            QTest::addRow("%s", damage) << QString() << QString(damage);
    }
    void damagedCacheIsNeverBelieved()
    {
        QFETCH(QString, part);
        QFETCH(QString, damage);
        StoreFixture store;
        store.create(5000);
        const QString cache = trendCachePath(store.path());
        {
            TrendFeed feed(store.path(), SmallChunks);
            feed.load();
            QVERIFY(feed.saveCache());
        }
        auto contents = readCache(cache, SmallChunks);
        QVERIFY(contents && contents->chunks.size() == 3);
        const qint64 newest = (contents->generation % 2) * CacheSlotBytes;
        const CacheChunkEntry &chunk = contents->chunks[part == "newest records" ? 2 : 0];
        const std::map<QString, int> sections{
            {"moments", ChunkGeometry::MomentSection},   {"values", ChunkGeometry::valueSection(2)},
            {"level 1", ChunkGeometry::levelSection(1)}, {"level 2", ChunkGeometry::levelSection(2)},
            {"rowid runs", SmallChunks.runSection()},    {"newest records", ChunkGeometry::MomentSection}};
        std::map<QString, std::array<qint64, 2>> at{
            {"current superblock", {newest, sizeof(CacheSuperblock)}},
            {"older superblock", {CacheSlotBytes - newest, sizeof(CacheSuperblock)}},
            {"directory", contents->directory},
            {"checksums", {qint64(chunk.offset), SmallChunks.sumCount() * 8}}};
        for (const auto &[name, section] : sections)
            at[name] = {qint64(chunk.offset) + SmallChunks.sectionOffset(section),
                        SmallChunks.sectionBytes(section, qint64(chunk.count), qint64(chunk.runs))};
        const auto [from, length] = at.count(part) ? at.at(part) : std::array<qint64, 2>{};
        contents.reset();
        QFile file(cache);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        // A count or size too large, the checksums made to match: only the
        // file's own length stops it.
        auto reseal = [&](auto change, qint64 slot) {
            CacheSuperblock block;
            std::memcpy(&block, bytes.constData() + slot, sizeof(block));
            change(block);
            QByteArray directory = bytes.mid(qint64(block.directoryOffset), qint64(block.directoryBytes));
            block.directoryChecksum = cacheChecksum(directory);
            block.checksum = cacheChecksum(
                QByteArray(reinterpret_cast<const char *>(&block), offsetof(CacheSuperblock, checksum)));
            bytes.replace(slot, sizeof(block),
                          QByteArray(reinterpret_cast<const char *>(&block), sizeof(block)));
        };
        const qint64 directory = at.at("directory")[0];
        if (damage == "cut")
            bytes.truncate(from + length / 2);
        else if (damage == "flip")
            bytes[from + length / 2] = char(bytes[from + length / 2] ^ 0x10);
        else if (damage == "100000000000 chunks")
            reseal(
                [&](CacheSuperblock &) { qToUnaligned(quint64(100'000'000'000), bytes.data() + directory); },
                newest);
        else if (damage == "4000000000 records")
            reseal(
                [&](CacheSuperblock &b) {
                    qToUnaligned(quint64(4'000'000'000), bytes.data() + directory + b.directoryBytes -
                                                             3 * sizeof(CacheChunkEntry) +
                                                             offsetof(CacheChunkEntry, count));
                },
                newest);
        else if (damage == "a directory of 1e11 bytes")
            reseal([](CacheSuperblock &b) { b.directoryBytes = 100'000'000'000; }, newest);
        else if (damage == "an older version")
            for (const qint64 slot : {qint64(0), CacheSlotBytes})
                reseal([](CacheSuperblock &b) { b.version = CacheVersion - 1; }, slot);
        else if (damage == "another store's")
            store.sql({"UPDATE log SET \"Sr No\" = 'another' WHERE rowid = 1"});
        QVERIFY(file.resize(0) && file.write(bytes) == bytes.size());
        file.close();
        const QString target = store.dir() + "/target";
        if (damage == "a link")
            QVERIFY(QFile::rename(cache, target) && QFile::link(target, cache));

        TrendFeed feed(store.path(), SmallChunks);
        feed.load();
        const auto plain = plainRecords(store);
        QCOMPARE(unseenDifferences(feed.data(), plain), 0);
        if (feed.data().damaged()) {
            feed.restart();
            feed.catchUp();
            feed.takeBuilt();
        }
        QCOMPARE(unseenDifferences(feed.data(), plain), 0);
        QVERIFY(!feed.data().damaged());
        QVERIFY(feed.saveCache());
        if (damage == "a link") {
            QVERIFY(!QFileInfo(cache).isSymLink());
            QCOMPARE(fileContent(target), bytes);
        }
    }

    // A disk that the cache would leave with less than the reserve free
    // keeps it for the store: no chunk is written, all are kept in memory,
    // and the viewer is told why.
    void cacheLeavesTheDiskToTheStore()
    {
        StoreFixture store;
        store.create(5000);
        TrendFeed feed(store.path(), SmallChunks);
        feed.setDiskReserve({std::numeric_limits<qint64>::max(), 1}); // the whole disk
        feed.load();
        QCOMPARE(unseenDifferences(feed.data(), plainRecords(store)), 0);
        QVERIFY(!feed.saveCache());
        QVERIFY2(feed.cacheProblem().contains("kept free for the store"), qPrintable(feed.cacheProblem()));
        QVERIFY(!readCache(trendCachePath(store.path()), SmallChunks));
    }

    // A build cut short (the window closed, the program killed: the file
    // holds the chunks written) goes on where it stopped; records appended
    // meanwhile and while it goes on are all read.
    void interruptedBuildGoesOn()
    {
        StoreFixture store;
        store.create(200'000);
        std::atomic<bool> stop = false;
        qint64 cached = 0;
        {
            TrendFeed feed(store.path(), SmallChunks);
            feed.openCache();
            feed.catchUp([&](qint64 read, qint64) { stop = read > 0; }, &stop);
            feed.takeBuilt();
            cached = feed.data().size();
            QVERIFY(cached > 0 && cached < 200'000);
        }
        fillStore(store.path(), 1000);
        TrendFeed feed(store.path(), SmallChunks);
        QVERIFY(feed.openCache());
        QCOMPARE(feed.data().size(), cached);
        qint64 read = 0;
        feed.catchUp([&](qint64 n, qint64) {
            if (read == 0)
                fillStore(store.path(), 500);
            read = n;
        });
        feed.takeBuilt();
        QCOMPARE(read, 201'500 - cached);
        QCOMPARE(unseenDifferences(feed.data(), plainRecords(store)), 0);
    }

    // Stores another program wrote: a record far out in rowids or time, a
    // single record, a lone value between nulls are drawn; a record at the
    // largest rowid is refused with an error, never an abort.
    void oddStoresAreDrawn_data()
    {
        QTest::addColumn<QStringList>("records"); // rowid, stamp, Temp1
        QTest::addColumn<int>("exitCode");
        QTest::newRow("rowid 1e10") << QStringList{"1, '2026-01-01 10:00:00', 21",
                                                   "10000000000, '2026-01-01 10:00:01', 22"}
                                    << 0;
        QTest::newRow("the largest rowid")
            << QStringList{"9223372036854775807, '2026-01-01 10:00:00', 21"} << 1;
        QTest::newRow("year 1 to 9999")
            << QStringList{"1, '0001-01-01 00:00:00', 21", "2, '9999-12-31 23:59:59', 22"} << 0;
        QTest::newRow("one record") << QStringList{"1, '2026-01-01 10:00:00', 21"} << 0;
        QTest::newRow("a lone value")
            << QStringList{"1, '2026-01-01 10:00:00', NULL", "2, '2026-01-01 10:00:01', 25",
                           "3, '2026-01-01 10:00:02', NULL"}
            << 0;
    }
    void oddStoresAreDrawn()
    {
        QFETCH(QStringList, records);
        StoreFixture store;
        store.create();
        for (const QString &record : records)
            store.sql({"INSERT INTO log (rowid, TimeAndDate, Temp1) VALUES (" + record + ")"});
        const auto [code, errors] = renderPng(store.dir(), store.dir() + "/t.png");
        QTEST(code, "exitCode");
        if (code == 0)
            QVERIFY(pixelsOf(QImage(store.dir() + "/t.png"), Sensor1Color) > 0);
        else
            QVERIFY2(errors.contains("3146: "), errors.constData());
    }

    void refusesWhatIsNoStore_data()
    {
        QTest::addColumn<QString>("setup"); // a statement, or "file:" and the file's raw content
        QTest::addColumn<ErrorCode>("error");
        QTest::newRow("missing") << "" << ErrorCode::StoreMissing;
        QTest::newRow("not a database") << "file:" + QString(4096, 'x') << ErrorCode::StoreNotDatabase;
        QTest::newRow("no table log") << "CREATE TABLE other (a)" << ErrorCode::TableMissing;
        QTest::newRow("no Temp4") << "CREATE TABLE log (\"Sr No\", TimeAndDate, Temp1, Temp2, Temp3)"
                                  << ErrorCode::FieldMissing;
    }
    void refusesWhatIsNoStore()
    {
        QFETCH(QString, setup);
        StoreFixture store;
        QFile file(store.path());
        if (setup.startsWith(u"file:"))
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(setup.mid(5).toUtf8()) > 0);
        else if (!setup.isEmpty())
            store.sql({setup});
        file.close();
        const auto [code, errors] = renderPng(store.dir(), store.dir() + "/t.png");
        QCOMPARE(code, 1);
        QFETCH(ErrorCode, error);
        QVERIFY2(errors.contains(QByteArray::number(int(error)) + ": "), errors.constData());
    }

    void pictureShowsASpike()
    {
        StoreFixture store;
        store.create(200'000);
        store.sql({"UPDATE log SET Temp1 = 500 WHERE rowid = 123457"});
        const QString png = store.dir() + "/t.png";
        QCOMPARE(renderPng(store.dir(), png).first, 0);
        const QImage image(png);
        QCOMPARE(image.size(), QSize(800, 500));
        // Sensor1 runs from 20 to 35 °C: only the spike reaches the top fifth.
        int spikeColumn = -1;
        for (int y = 0; y < image.height() / 5 && spikeColumn < 0; ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixelColor(x, y) == Sensor1Color)
                    spikeColumn = x;
        QVERIFY(spikeColumn > image.width() / 2 && spikeColumn < image.width() * 3 / 4);
        // Sensor4 sweeps from 0 to 99.9 within every few hundred records, so
        // every pixel column of its plot holds the whole band, not one in two.
        std::vector<int> heights;
        for (int x = 0; x < image.width(); ++x) {
            int height = 0;
            for (int y = image.height() / 2; y < image.height(); ++y)
                height += image.pixelColor(x, y) == Sensor4Color ? 1 : 0;
            if (height > 0)
                heights.push_back(height);
        }
        QVERIFY(heights.size() > std::size_t(image.width()) / 2);
        const auto [lowest, highest] = std::minmax_element(heights.begin() + 1, heights.end() - 1);
        QVERIFY2(*lowest >= *highest - 2, qPrintable(QString("%1 %2").arg(*lowest).arg(*highest)));
    }
};

QTEST_GUILESS_MAIN(TestTrendFeed)
#include "tst_trendfeed.moc"
