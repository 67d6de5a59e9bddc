// The receive handler over byte streams and over the fuzz corpus, run by
// ParserRun (tests/fuzz), which also checks the handler's invariants after
// every event: event codes other than receive, one read and one poll burst
// per receive event, the poll counters and the state at a commit.

#include "parserfuzz.h"

#include <QDir>
#include <QTest>

namespace {
void row(const char *name, const QByteArray &stream, const QByteArray &labels, const QByteArray &commits,
         const char *state = "||0|0")
{
    QTest::newRow(name) << stream << labels << commits << QString(state);
}
} // namespace

class TestFrameParser : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Labels are one text, "|" between the four; a commit is recorded as the
    // labels, "@" and the number of poll bursts already sent.
    void streams_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QByteArray>("labels");
        QTest::addColumn<QByteArray>("commits"); // ";" between commits
        QTest::addColumn<QString>("state");      // Text2|Text3|frameStarted|fieldIndex after the stream

        const QByteArray oneToFour = "  1|  2|  3|  4";
        row("one frame", "N1,2,3,4,", oneToFour, oneToFour + "@8");
        row("empty field", "N,5,6,7,", "  |  5|  6|  7", "  |  5|  6|  7@7");
        row("lower-case n starts nothing", "n1,2,3,4,", "|||", "", "|,|0|0");
        row("N inside a field", "N12N,3,4,5,", "  12N|  3|  4|  5", "  12N|  3|  4|  5@10");
        row("text before the frame", "xyz,N1,2,3,4,", oneToFour, oneToFour + "@12");
        row("comma that ends a frame starts none", "N1,2,3,4,1,", oneToFour, oneToFour + "@8", "|,|0|0");
        row("N after a frame", "N1,2,3,4,N9,8", "  9|  2|  3|  4", oneToFour + "@8", "8|8|1|1");
        row("cut frame", "N7,8.5", "  7|||", "", "8.5|5|1|1");
        row("no character is special", "N 1,2\r\n,\t,x y,", "   1|  2\r\n|  \t|  x y",
            "   1|  2\r\n|  \t|  x y@13");
        const QByteArray high("  \xb0|  \0|  \xff|  \x80", 15);
        row("high and zero bytes", QByteArray("N\xb0,\0,\xff,\x80,", 9), high, high + "@8");
    }

    void streams()
    {
        QFETCH(QByteArray, stream);
        ParserRun run(1);
        run.arrive(stream);
        run.deliverAll();
        QVERIFY2(run.error().isEmpty(), qPrintable(run.error()));
        QTEST(run.labels(), "labels");
        QTEST(run.commits().join(';'), "commits");
        QTEST(run.state(), "state");
    }

    void longerReadIsAllFieldText()
    {
        ParserRun run(0); // a read takes all that waits
        for (const char *read : {"N", "1,2"}) {
            run.arrive(read);
            run.deliverAll();
        }
        QCOMPARE(run.state(), "1,2|1,2|1|0"); // commas inside one read end no field
    }

    // Scripts for the fuzz target (see parserfuzz.h); each must keep the invariants.
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

QTEST_GUILESS_MAIN(TestFrameParser)
#include "tst_frameparser.moc"
