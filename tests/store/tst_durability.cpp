#include "support/storefixture.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRandomGenerator>

using namespace qf;

// A station killed at random moments loses no record it had committed, and
// its store stays sound.
class TestDurability : public QObject {
    Q_OBJECT
private slots:
    // Killed while it deletes all records of a store of many: the next start
    // lists either all records or none of them, plus every record committed
    // after the delete returned, and the store stays sound.
    void killedDeleteAllIsAllOrNothing()
    {
        constexpr qint64 Records = 100000;
        constexpr int Rounds = 8;
        StoreFixture store;
        store.create();
        const quint32 seed = QRandomGenerator::global()->generate();
        qInfo("seed %u", seed);
        QRandomGenerator random(seed);
        int killedWhileDeleting = 0;
        for (int round = 0; round < Rounds; ++round) {
            fillStore(store.path(), Records);
            const int before = store.column("SELECT count(*) FROM log").front().toInt();
            QProcess child;
            child.start(QCoreApplication::applicationDirPath() + "/qf_log_committer", {store.dir()});
            QVERIFY(child.waitForStarted());
            QByteArray out;
            while (!out.contains("deleting\n") && child.waitForReadyRead(5000))
                out += child.readAllStandardOutput();
            // Into the delete, or past it: half the rounds kill soon after it starts.
            QTest::qWait(int(random.bounded(round % 2 == 0 ? 60 : 600)));
            child.kill();
            QVERIFY(child.waitForFinished());
            out += child.readAllStandardOutput();

            const QStringList stored = store.column("SELECT \"Sr No\" FROM log ORDER BY rowid");
            if (out.contains("deleted\n")) {
                const QList<QByteArray> after = out.mid(out.indexOf("deleted\n") + 8).split('\n');
                for (qsizetype i = 0; i + 1 < after.size(); ++i)
                    QVERIFY(stored.contains(QString::fromLatin1(after.at(i))));
                QVERIFY(stored.size() < before);
            } else {
                QVERIFY2(stored.isEmpty() || stored.size() == before + 10,
                         qPrintable(QString::number(stored.size())));
                ++killedWhileDeleting;
            }
            for (qsizetype i = 0; i < stored.size(); i += std::max<qsizetype>(1, stored.size() / 100))
                QCOMPARE(stored.at(i), QString::number(i + 1));
            QCOMPARE(store.records()->RecordCount(), stored.size());
            QCOMPARE(checkStore(store.path()), QStringList());
        }
        qInfo("killed %d of %d times before deleteAllRecords returned", killedWhileDeleting, Rounds);
    }
};

QTEST_GUILESS_MAIN(TestDurability)
#include "tst_durability.moc"
