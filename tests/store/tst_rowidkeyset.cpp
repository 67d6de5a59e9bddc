#include "store/rowidkeyset.h"

#include <QTest>

using Segment = RowidKeyset::Segment;
using Walk = RowidKeyset::Walk;
using Where = std::variant<qint64, Walk>;

// Checkpoints of a sparse table, without a database (the walks themselves
// are checked through the store, on a table with gaps).
class TestRowidKeyset : public QObject {
    Q_OBJECT
private Q_SLOTS:
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
        QVERIFY(!keyset.segmentAt(keyset.count()));
        QVERIFY(!keyset.segmentAt(-1));
    }
};

QTEST_APPLESS_MAIN(TestRowidKeyset)
#include "tst_rowidkeyset.moc"
