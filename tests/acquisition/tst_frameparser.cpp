// The receive handler over byte streams and over the fuzz corpus, played by
// ParserRun (tests/fuzz), which also checks the handler's invariants after
// every event: event codes other than receive, one read and one poll burst
// per receive event, the poll counters and the state at a commit.

#include "parserfuzz.h"

#include <QDir>
#include <QTest>

using namespace qf;

namespace {
// A stream read one character at a time, or readLength at a time (0: all
// that waits).
void row(const char *name, const QByteArray &stream, const QByteArray &labels, const QByteArray &commits,
         const char *state = "||0|0", char readLength = 1)
{
    QTest::newRow(name) << readLength + stream << labels << commits << QString(state);
}
} // namespace

class TestFrameParser : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Labels are one text, "|" between the four; a commit is recorded as the
    // labels, "@" and the number of poll bursts already sent.
    void streams_data()
    {
        QTest::addColumn<QByteArray>("script"); // as the fuzz target reads it
        QTest::addColumn<QByteArray>("labels");
        QTest::addColumn<QByteArray>("commits"); // ";" between commits
        QTest::addColumn<QString>("state");      // field text|last character|frameStarted|fieldIndex, after

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
        // A read takes all that waits ("N" is read before "1,2" arrives):
        // commas inside one read end no field.
        row("longer read is all field text",
            "N\xfd"
            "1,2",
            "|||", "", "1,2|1,2|1|0", 0);
    }

    void streams()
    {
        QFETCH(QByteArray, script);
        ParserRun run(script);
        QVERIFY2(run.error().isEmpty(), qPrintable(run.error()));
        QTEST(run.labels(), "labels");
        QTEST(run.commits().join(';'), "commits");
        QTEST(run.state(), "state");
    }

    // Scripts kept for the fuzz target; each must keep the invariants.
    void corpus()
    {
        const QFileInfoList files = QDir(QStringLiteral(QF_CORPUS_DIR)).entryInfoList(QDir::Files);
        QVERIFY2(!files.isEmpty(), QF_CORPUS_DIR);
        for (const QFileInfo &info : files) {
            QFile file(info.filePath());
            QVERIFY(file.open(QIODevice::ReadOnly));
            const ParserRun run(file.readAll());
            QVERIFY2(run.error().isEmpty(), qPrintable(info.fileName() + ": " + run.error()));
        }
    }
};

QTEST_GUILESS_MAIN(TestFrameParser)
#include "tst_frameparser.moc"
