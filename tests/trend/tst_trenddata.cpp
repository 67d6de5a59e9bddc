#include "trend/stampclock.h"
#include "trend/trenddata.h"
#include "trend/trendplotdata.h"

#include <QTest>

#include <algorithm>

namespace {

constexpr qint64 Start = 1'700'000'000;

// Records one second apart; sensor s holds value(i) * (s + 1), NoValue where
// value gives NaN. The envelopes follow the appends in uneven steps, as a
// viewer polling a station updates them.
TrendData makeData(qsizetype count, const std::function<float(qsizetype)> &value)
{
    constexpr qsizetype UpdateStep = 97;
    TrendData data;
    for (qsizetype i = 0; i < count; ++i) {
        const float v = value(i);
        data.append(i + 1, Start + i, {v, 2 * v, 3 * v, 4 * v});
        if (i % UpdateStep == 0)
            data.updateEnvelopes();
    }
    data.updateEnvelopes();
    return data;
}

} // namespace

class TestTrendData : public QObject {
    Q_OBJECT
private slots:
    void spikeSurvivesEveryZoom_data()
    {
        QTest::addColumn<qsizetype>("spike");
        QTest::addColumn<int>("columns");
        QTest::addColumn<qint64>("span");
        // The column edge nearest the spike, in records: 5, its column ends
        // four records after it; -4, its column starts four before it.
        QTest::addColumn<int>("edge");
        for (const int columns : {1, 7, 300, 1920})
            for (const qint64 span : {qint64(200), qint64(5000), qint64(1'000'000)})
                for (const int edge : {5, -4})
                    QTest::addRow("%d columns, %lld s, edge %d", columns, span, edge)
                        << qsizetype(777'777) << columns << span << edge;
        QTest::newRow("first record") << qsizetype(0) << 500 << qint64(1'000'000) << 5;
        QTest::newRow("newest record") << qsizetype(999'999) << 500 << qint64(1'000'000) << 5;
    }
    // The spike's column edge lies about a third into the plot, so that the
    // spike is read from the part of its column before the first or after
    // the last whole block. Records more than four but at most a third of
    // the plot away from the spike are null: a column of nulls is a gap,
    // never a zero (one column always holds a value).
    void spikeSurvivesEveryZoom()
    {
        QFETCH(qsizetype, spike);
        QFETCH(int, columns);
        QFETCH(qint64, span);
        QFETCH(int, edge);
        const float spikeValue = 1000;
        const TrendData data = makeData(1'000'000, [=](qsizetype i) {
            const qsizetype away = std::abs(i - spike);
            return away == 0 ? spikeValue : (away > 4 && away <= span / 3 ? NoValue : 20.0f);
        });
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
