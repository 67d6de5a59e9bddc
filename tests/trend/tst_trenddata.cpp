#include "trend/stampclock.h"
#include "trend/trenddata.h"
#include "trend/trendplotdata.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace qf;

namespace {

constexpr qint64 Start = 1'700'000'000;

// Records as the feed keeps them: full chunks in memory, or written to a
// cache file and mapped back; the newest in the tail.
struct Records {
    explicit Records(const ChunkGeometry &geometry = ChunkGeometry(), const QString &cacheFile = {})
        : data(geometry), tail(geometry),
          writer(cacheFile.isEmpty() ? nullptr : CacheWriter::create(cacheFile, geometry))
    {
        data.setTail(&tail);
    }
    void append(qint64 rowid, qint64 moment, const SensorValues &values)
    {
        tail.append(rowid, moment, values);
        if (!tail.full())
            return;
        if (writer) {
            const auto entry = writer->writeChunk(tail, {"UTC", {1, "1", ""}, {rowid, "", ""}, moment});
            QVERIFY(entry);
            data.addChunk(writer->file(), *entry);
            tail.clear();
        } else {
            data.addChunk(std::move(tail));
            tail = MemoryChunk(data.geometry());
        }
    }
    TrendData data;
    MemoryChunk tail;
    std::unique_ptr<CacheWriter> writer;
};

// Records one second apart; sensor s holds value(i) * (s + 1), NoValue where
// value gives NaN.
void fill(Records &records, qint64 count, const std::function<float(qint64)> &value)
{
    for (qint64 i = 0; i < count; ++i) {
        const float v = value(i);
        records.append(i + 1, Start + i, {v, 2 * v, 3 * v, 4 * v});
    }
}

} // namespace

class TestTrendData : public QObject {
    Q_OBJECT
private slots:
    void spikeSurvivesEveryZoom_data()
    {
        QTest::addColumn<qint64>("spike");
        QTest::addColumn<int>("columns");
        QTest::addColumn<qint64>("span");
        // The column edge nearest the spike, in records: 5, its column ends
        // four records after it; -4, its column starts four before it.
        QTest::addColumn<int>("edge");
        for (const int columns : {1, 7, 300, 1920})
            for (const qint64 span : {qint64(200), qint64(5000), qint64(1'000'000)})
                for (const int edge : {5, -4})
                    QTest::addRow("%d columns, %lld s, edge %d", columns, span, edge)
                        << qint64(777'777) << columns << span << edge;
        QTest::newRow("first record") << qint64(0) << 500 << qint64(1'000'000) << 5;
        QTest::newRow("newest record") << qint64(999'999) << 500 << qint64(1'000'000) << 5;
    }
    // The spike's column edge lies about a third into the plot, so that the
    // spike is read from the part of its column before the first or after
    // the last whole block. Records more than four but at most a third of
    // the plot away from the spike are null: a column of nulls is a gap,
    // never a zero (one column always holds a value).
    void spikeSurvivesEveryZoom()
    {
        QFETCH(qint64, spike);
        QFETCH(int, columns);
        QFETCH(qint64, span);
        QFETCH(int, edge);
        const float spikeValue = 1000;
        Records records;
        fill(records, 1'000'000, [=](qint64 i) {
            const qint64 away = std::abs(i - spike);
            return away == 0 ? spikeValue : (away > 4 && away <= span / 3 ? NoValue : 20.0f);
        });
        const TrendData &data = records.data;
        const double width = double(span) / columns;
        const double from = double(Start + spike + edge) - 0.5 - (columns / 3 + (edge > 0 ? 1 : 0)) * width;
        const PlotPoints points = plotPoints(data, from, from + double(span), columns);
        // The spike is the high of exactly one column (or one point): the
        // lows and the other columns stay exact.
        const auto &values = points.values[1];
        QCOMPARE(std::count(values.begin(), values.end(), 2.0 * spikeValue), 1);
        QVERIFY(columns == 1 ||
                std::any_of(values.begin(), values.end(), [](double v) { return std::isnan(v); }));
        QVERIFY(std::none_of(values.begin(), values.end(), [](double v) { return v == 0; }));
        QVERIFY(points.keys.size() <= std::size_t(2 * columns + 2) || !points.envelope);
        // The record under the cursor: the nearest, also before the first
        // and after the newest.
        QCOMPARE(nearestRecord(data, double(Start + spike) - 0.4), spike);
        QCOMPARE(nearestRecord(data, double(Start + spike) + 0.4), spike);
    }

    // Every block of every level is the plain summary of its records, and
    // every record reads back as appended: through the cache file as from
    // memory, across chunks and the tail, with rowids that jump (to 1e10,
    // to the largest there is) and moments from the year 1 to 9999.
    void blocksAtEveryLevel_data()
    {
        QTest::addColumn<bool>("mapped");
        QTest::newRow("in memory") << false;
        QTest::newRow("mapped") << true;
    }
    void blocksAtEveryLevel()
    {
        QFETCH(bool, mapped);
        constexpr qint64 Count = 5000, YearOne = -62'135'596'800, Year9999 = 253'402'300'799;
        QTemporaryDir dir;
        Records records(ChunkGeometry(ChunkGeometry::MinRecordBits),
                        mapped ? dir.filePath("c.trend") : QString());
        std::vector<qint64> rowids, moments;
        std::vector<SensorValues> values;
        for (qint64 i = 0; i < Count; ++i) {
            rowids.push_back(i == Count - 1 ? std::numeric_limits<qint64>::max()
                             : i < 1500     ? i + 1
                                            : i + 10'000'000'000);
            moments.push_back(i == 0 ? YearOne : i == Count - 1 ? Year9999 : Start + i * 7 / 3);
            SensorValues v;
            for (int s = 0; s < SensorCount; ++s)
                v[s] = (i + s) % 13 == 0 || (s == 1 && i >= 2000 && i < 3100)
                           ? NoValue
                           : float((i * 37 + s) % 101) - 50;
            values.push_back(v);
            records.append(rowids.back(), moments.back(), v);
        }
        const TrendData &data = records.data;
        QCOMPARE(data.size(), Count);
        for (qint64 i = 0; i < Count; ++i) {
            QCOMPARE(data.rowid(i), rowids[i]);
            QCOMPARE(data.moment(i), moments[i]);
        }
        for (int level = 0; level <= data.topLevel(); ++level) {
            const qint64 size = data.blockRecords(level);
            QCOMPARE(data.blockCount(level), (Count + size - 1) / size);
            for (qint64 b = 0; b < data.blockCount(level); ++b) {
                const qint64 first = b * size, end = std::min(Count, first + size);
                BlockSummary plain{moments[first], moments[end - 1]};
                for (int s = 0; s < SensorCount; ++s) {
                    Envelope e;
                    for (qint64 i = first; i < end; ++i)
                        e.add(values[i][s]);
                    plain.low[s] = e.low;
                    plain.high[s] = e.high;
                }
                QVERIFY2(data.block(level, b) == plain,
                         qPrintable(QString("level %1 block %2").arg(level).arg(b)));
            }
        }
        for (const double moment : {double(YearOne) - 1, double(Start) + 1000.5, double(Start) + 20'000})
            QCOMPARE(data.lowerBound(moment),
                     std::lower_bound(moments.begin(), moments.end(), moment) - moments.begin());
        QVERIFY(!data.damaged());
    }

    // A value no line reaches is a dot: a lone value between nulls, a single
    // record, a column whose records hold one value between empty columns.
    void loneValuesAreDots_data()
    {
        QTest::addColumn<QList<float>>("values"); // one record a second
        QTest::addColumn<int>("columns");
        QTest::addColumn<QList<double>>("dots"); // keys after Start
        const float n = NoValue;
        QTest::newRow("between nulls") << QList<float>{1, 2, n, 5, n, 3, 4} << 100 << QList<double>{3};
        QTest::newRow("one record") << QList<float>{7} << 100 << QList<double>{0};
        QTest::newRow("line, no dot") << QList<float>{n, 5, 6, n} << 100 << QList<double>{};
        QList<float> column(1000, n);
        column[500] = column[501] = 9;
        QTest::newRow("one column") << column << 100 << QList<double>{504.5};
    }
    void loneValuesAreDots()
    {
        QFETCH(QList<float>, values);
        QFETCH(int, columns);
        Records records;
        fill(records, values.size(), [&](qint64 i) { return values[i]; });
        const PlotPoints points = plotPoints(records.data, Start - 0.5, Start + values.size() - 0.5, columns);
        QList<double> dots;
        for (const auto &[key, value] : points.dots[2])
            dots.append(key - Start);
        QTEST(dots, "dots");
    }

    // A stamp the clock set back, or that cannot be read, stands beside the
    // one before it; a summer-time hour that repeats is shown in order; each
    // form the viewer reads gives its own moment.
    void stampsStayInOrder_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QStringList>("stamps");
        QTest::addColumn<QList<qint64>>("moments"); // -1: none yet
        // Berlin, 2026-10-25: at 03:00 summer time the clock goes back to 02:00.
        constexpr qint64 Autumn = 1792889999; // 00:59:59 UTC
        QTest::newRow("autumn hour") << QByteArray("Europe/Berlin")
                                     << QStringList{"2026-10-25 02:59:59", "2026-10-25 02:00:00",
                                                    "2026-10-25 02:30:00"}
                                     << QList<qint64>{Autumn, Autumn + 1, Autumn + 1801};
        constexpr qint64 Ten = 1767261600; // 2026-01-01 10:00:00 UTC
        QTest::newRow("backward and unreadable")
            << QByteArray("UTC")
            << QStringList{"", "2026-01-01 10:00:00", "noise", "2026-01-01 09:00:00", "2026-01-01 10:00:07"}
            << QList<qint64>{-1, Ten, Ten, Ten, Ten + 7};
        constexpr qint64 March = 1772323200; // 2026-03-01 00:00:00 UTC
        QTest::newRow("every form")
            << QByteArray("UTC")
            << QStringList{"2026-02-30 12:30:05", "2026-03-01 12:61:00",     "2026-03-01",
                           "2026-03-01 12:30:05", "2026-03-01T12:30:06.250", "01.03.2026 12:30:07"}
            << QList<qint64>{-1, -1, March, March + 45005, March + 45006, March + 45007};
    }
    void stampsStayInOrder()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QStringList, stamps);
        StampClock clock{QTimeZone(zone)};
        QList<qint64> moments;
        for (const QString &stamp : stamps)
            moments.append(clock.next(parseWallClock(stamp.toStdString())).value_or(-1));
        QTEST(moments, "moments");
    }
};

QTEST_GUILESS_MAIN(TestTrendData)
#include "tst_trenddata.moc"
