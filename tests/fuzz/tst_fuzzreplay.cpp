// Replays the fuzz corpus through the same checks as the fuzz target.

#include "parserfuzz.h"

#include <QDir>
#include <QTest>

class TestFuzzReplay : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void corpus_data()
    {
        QTest::addColumn<QString>("path");
        const QDir dir(QStringLiteral(QF_CORPUS_DIR));
        const QStringList files = dir.entryList(QDir::Files, QDir::Name);
        QVERIFY2(!files.isEmpty(), QF_CORPUS_DIR);
        for (const QString &file : files)
            QTest::newRow(qPrintable(file)) << dir.filePath(file);
    }

    void corpus()
    {
        QFETCH(QString, path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray script = file.readAll();
        const QString error =
            fuzzParser(reinterpret_cast<const std::uint8_t *>(script.constData()), script.size());
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestFuzzReplay)
#include "tst_fuzzreplay.moc"
