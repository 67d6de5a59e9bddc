#include "support/storefixture.h"
#include "trend/trendfeed.h"

#include <QBuffer>
#include <QImage>
#include <QProcess>

namespace {

const QColor Sensor1Color(0xd6, 0x27, 0x28);

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

} // namespace

class TestTrendFeed : public QObject {
    Q_OBJECT
private slots:
    // The viewer exports records as the store tool does (a null, a stamp
    // with a comma and quotes); it follows appends and a delete-all, noticed
    // also when more records than before were written again between two
    // polls; its cache is used only while it matches the store; it never
    // writes the store.
    void followsTheStoreAndItsCache()
    {
        StoreFixture store;
        store.create(5000);
        store.sql({"UPDATE log SET Temp2 = NULL, TimeAndDate = 'line, \"noise\"' WHERE rowid = 7"});
        QBuffer tool, viewer;
        QVERIFY(tool.open(QIODevice::WriteOnly) && viewer.open(QIODevice::WriteOnly));
        exportStore(store.path(), tool);
        TrendStore(store.path()).exportRange(1, 5000, viewer);
        QCOMPARE(viewer.data(), tool.data());
        const QByteArray before = fileContent(store.path());
        QVERIFY(!TrendFeed(store.path()).load());
        {
            TrendFeed feed(store.path());
            feed.load();
            QCOMPARE(feed.poll(), TrendFeed::Change::None);
            QVERIFY(feed.saveCache());
        }
        QCOMPARE(fileContent(store.path()), before);
        QCOMPARE(store.column("PRAGMA journal_mode"), QStringList{"wal"});
        fillStore(store.path(), 7);
        TrendFeed feed(store.path());
        QVERIFY(feed.load());
        QCOMPARE(feed.data().size(), 5007);
        QCOMPARE(feed.data().envelope(0, 0, 5007).high, 34.9f);
        QVERIFY(std::isnan(feed.data().value(1, 6)));
        fillStore(store.path(), 3);
        QCOMPARE(feed.poll(), TrendFeed::Change::Appended);
        QCOMPARE(feed.data().size(), 5010);
        store.sql({"DELETE FROM log"});
        fillStore(store.path(), 6000);
        QCOMPARE(feed.poll(), TrendFeed::Change::Reset);
        QCOMPARE(feed.data().size(), 6000);
        QCOMPARE(feed.data().rowid(0), 1);
        TrendFeed refilled(store.path());
        QVERIFY(!refilled.load());
        QCOMPARE(refilled.data().size(), 6000);
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
    }
};

QTEST_GUILESS_MAIN(TestTrendFeed)
#include "tst_trendfeed.moc"
