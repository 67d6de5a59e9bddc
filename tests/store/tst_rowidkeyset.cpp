#include "store/rowidkeyset.h"

#include <QTest>

using Segment = RowidKeyset::Segment;
using Walk = RowidKeyset::Walk;
using Where = std::variant<qint64, Walk>;

Q_DECLARE_METATYPE(Where)

// Where the rowids of records lie, without a database: the table's rowids at
// opening, the rowids appended since, then for some positions what locate
// answers (a rowid, or the walk that finds it from the nearest checkpoint).
class TestRowidKeyset : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void locate_data()
    {
        QTest::addColumn<QList<qint64>>("opened"); // count, first, last
        QTest::addColumn<QList<qint64>>("appended");
        QTest::addColumn<qint64>("position");
        QTest::addColumn<Where>("where");
        QTest::addColumn<int>("segments");

        // clang-format off
        QTest::newRow("dense table")          << QList<qint64>{5, 11, 15} << QList<qint64>{}       << qint64(3) << Where(qint64(14)) << 1;
        QTest::newRow("append extends")       << QList<qint64>{5, 11, 15} << QList<qint64>{16, 17} << qint64(6) << Where(qint64(17)) << 1;
        QTest::newRow("gap starts a segment") << QList<qint64>{5, 11, 15} << QList<qint64>{20, 21} << qint64(6) << Where(qint64(21)) << 2;
        QTest::newRow("empty table")          << QList<qint64>{0, 0, 0}   << QList<qint64>{1}      << qint64(0) << Where(qint64(1))  << 1;
        QTest::newRow("sparse: first")        << QList<qint64>{5, 1, 100} << QList<qint64>{}       << qint64(0) << Where(qint64(1))  << 1;
        QTest::newRow("sparse: last")         << QList<qint64>{5, 1, 100} << QList<qint64>{}       << qint64(4) << Where(qint64(100)) << 1;
        QTest::newRow("sparse: walk forward") << QList<qint64>{5, 1, 100} << QList<qint64>{}       << qint64(1) << Where(Walk{1, 0, true})  << 1;
        QTest::newRow("sparse: tie forward")  << QList<qint64>{5, 1, 100} << QList<qint64>{}       << qint64(2) << Where(Walk{1, 1, true})  << 1;
        QTest::newRow("sparse: walk back")    << QList<qint64>{5, 1, 100} << QList<qint64>{}       << qint64(3) << Where(Walk{100, 0, false}) << 1;
        QTest::newRow("append after sparse")  << QList<qint64>{5, 1, 100} << QList<qint64>{101}    << qint64(5) << Where(qint64(101)) << 2;
        // clang-format on
    }
    void locate()
    {
        QFETCH(QList<qint64>, opened);
        QFETCH(QList<qint64>, appended);
        QFETCH(qint64, position);
        QFETCH(Where, where);
        QFETCH(int, segments);

        RowidKeyset keyset(opened[0], opened[1], opened[2]);
        for (qint64 rowid : appended)
            keyset.append(rowid);
        QCOMPARE(keyset.count(), opened[0] + appended.size());
        QCOMPARE(int(keyset.segments().size()), segments);
        const Segment *segment = keyset.segmentAt(position);
        QVERIFY(segment);
        QVERIFY(keyset.locate(*segment, position - segment->position) == where);
        QVERIFY(!keyset.segmentAt(keyset.count()));
        QVERIFY(!keyset.segmentAt(-1));
    }

    // A remembered rowid is answered directly and shortens later walks; a
    // full set of checkpoints starts again from the two ends.
    void checkpoints()
    {
        RowidKeyset keyset(100000, 1, 500000);
        const Segment segment = keyset.segments().front();
        keyset.remember(400, 2000);
        QVERIFY(keyset.locate(segment, 400) == Where(qint64(2000)));
        QVERIFY(keyset.locate(segment, 410) == Where(Walk{2000, 9, true}));
        QVERIFY(keyset.locate(segment, 390) == Where(Walk{2000, 9, false}));
        for (qint64 offset = 1; keyset.checkpointCount() < RowidKeyset::MaxCheckpoints; ++offset)
            keyset.remember(offset, 2 * offset);
        keyset.remember(500, 1000);
        QCOMPARE(keyset.checkpointCount(), std::size_t(3));
        QVERIFY(keyset.locate(segment, 99999) == Where(qint64(500000)));
        QVERIFY(keyset.locate(segment, 501) == Where(Walk{1000, 0, true}));
    }
};

QTEST_APPLESS_MAIN(TestRowidKeyset)
#include "tst_rowidkeyset.moc"
