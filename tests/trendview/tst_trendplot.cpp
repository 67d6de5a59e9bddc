// The plot gathers the records into its own device pixel columns, on a
// screen scaled by two, also when a change of values widens the value labels
// and with them narrows the plot.

#include "trendview/trendplot.h"

#include <QApplication>
#include <QTest>

using namespace qf;

namespace {

constexpr qint64 Start = 1'700'000'000;
constexpr qint64 RecordCount = 20'000; // many records to each pixel column
constexpr double ScreenScale = 2;

} // namespace

class TestTrendPlot : public QObject {
    Q_OBJECT
private slots:
    void envelopeFillsThePlotAsLaidOut()
    {
        const ChunkGeometry geometry;
        TrendData data(geometry);
        MemoryChunk records(geometry);
        data.setTail(&records);
        for (qint64 i = 0; i < RecordCount; ++i) {
            const float v = float(i % 10);
            records.append(i + 1, Start + i, {v, v, v, v});
        }
        TrendPlot plot(data);
        plot.resize(800, 500);
        plot.setViewport(plot.rect());
        plot.replot();
        QCOMPARE(plot.devicePixelRatioF(), ScreenScale);
        // The lowest and the highest value of each device pixel column.
        const auto pointsPerColumn = [&plot] {
            return double(plot.sensorGraph(0)->data()->size()) / plot.axisRect(1)->width() / ScreenScale;
        };
        QCOMPARE(pointsPerColumn(), 2.0);

        const int narrowLabels = plot.axisRect(1)->width();
        for (qint64 i = RecordCount; i < 2 * RecordCount; ++i) {
            const float v = -1e6f * float(i % 10);
            records.append(i + 1, Start + i, {v, v, v, v});
        }
        plot.dataChanged();
        plot.replot();
        QVERIFY(plot.axisRect(1)->width() < narrowLabels);
        QCOMPARE(pointsPerColumn(), 2.0);
    }
};

int main(int argc, char *argv[])
{
    qputenv("QT_SCALE_FACTOR", QByteArray::number(ScreenScale));
    QApplication app(argc, argv);
    TestTrendPlot test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_trendplot.moc"
