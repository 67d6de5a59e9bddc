#include "store/storemaintenance.h"
#include "support/storefixture.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>

// A station killed at random moments loses no record it had committed, and
// its store stays sound.
class TestDurability : public QObject {
    Q_OBJECT
private slots:
    void killedCommitterLosesNothing()
    {
        StoreFixture store;
        store.create();
        const QString committer = QCoreApplication::applicationDirPath() + "/qf_log_committer";
        const quint32 seed = QRandomGenerator::global()->generate();
        qInfo("seed %u", seed);
        QRandomGenerator random(seed);

        QSet<QString> printed;
        for (int round = 0; round < 30; ++round) {
            QProcess child;
            child.start(committer, {store.dir()});
            QVERIFY2(child.waitForStarted(), qPrintable(committer));
            // Kill within the first 200 ms of its life: during start-up or
            // in the middle of committing.
            const QDeadlineTimer killAt(int(random.bounded(200)));
            while (!killAt.hasExpired() && child.state() == QProcess::Running)
                child.waitForReadyRead(int(std::max<qint64>(1, killAt.remainingTime())));
            QCOMPARE(child.state(), QProcess::Running);
            child.kill();
            QVERIFY(child.waitForFinished());
            QCOMPARE(child.exitStatus(), QProcess::CrashExit);
            const QList<QByteArray> lines = child.readAllStandardOutput().split('\n');
            for (qsizetype i = 0; i + 1 < lines.size(); ++i) // the last piece may be cut short
                printed.insert(QString::fromLatin1(lines.at(i)));
        }
        qInfo("%lld serial numbers printed", qlonglong(printed.size()));
        QVERIFY(!printed.isEmpty());

        const QStringList stored = store.column("SELECT \"Sr No\" FROM log ORDER BY rowid");
        for (const QString &serial : printed)
            QVERIFY2(stored.contains(serial), qPrintable(serial + " was printed but is not stored"));
        // Numbering went on across the restarts: 1..N, each once.
        for (qsizetype i = 0; i < stored.size(); ++i)
            QCOMPARE(stored.at(i), QString::number(i + 1));
        QCOMPARE(checkStore(store.path()), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestDurability)
#include "tst_durability.moc"
