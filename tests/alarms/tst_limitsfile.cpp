// quillfern.ini: what a bad file is told as (file, line, section, key), and
// that what the writer writes reads back as the same limits.

#include "alarms/limitsfile.h"
#include "common/error.h"

#include <QTemporaryDir>
#include <QTest>

using namespace qf;

class TestLimitsFile : public QObject {
    Q_OBJECT
private slots:
    void badFiles_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("error");
        QTest::newRow("no equals sign")
            << QByteArray("[Sensor1]\nhigh 30")
            << "t.ini:2: [Sensor1] expected key=value or [Section], found \"high 30\"";
        QTest::newRow("unknown section")
            << QByteArray("; limits\n[Sensor5]")
            << "t.ini:2: unknown section [Sensor5]; the sections are [Station] and [Sensor1] to [Sensor4]";
        QTest::newRow("section not closed")
            << QByteArray("[Sensor1") << "t.ini:1: a section header must end with ']'";
        QTest::newRow("key before a section")
            << QByteArray("high=30") << "t.ini:1: high: a key before the first section";
        QTest::newRow("unknown key")
            << QByteArray("[Sensor2]\r\nhihg=3\r\n")
            << "t.ini:2: [Sensor2] hihg: unknown key; a sensor knows name, unit, highHigh, "
               "high, low, lowLow, deadband, delay and priority";
        QTest::newRow("not a number")
            << QByteArray("[Sensor1]\n\nhigh=3O") << "t.ini:3: [Sensor1] high: \"3O\" is not a number";
        QTest::newRow("a decimal comma")
            << QByteArray("[Sensor1]\nlow = 30,5") << "t.ini:2: [Sensor1] low: \"30,5\" is not a number";
        QTest::newRow("a key twice") << QByteArray("[Sensor1]\nhigh=30\n[Sensor2]\n[Sensor1]\nhigh=31")
                                     << "t.ini:5: [Sensor1] high: given twice (first on line 2)";
        QTest::newRow("low not below high: the later line")
            << QByteArray("[Sensor3]\nlow=30\nhigh=25")
            << "t.ini:3: [Sensor3] high: low (30) must be below high (25)";
        QTest::newRow("lowLow above low: the later line")
            << QByteArray("[Sensor1]\nlow=4\nname=x\nlowLow=5")
            << "t.ini:4: [Sensor1] lowLow: lowLow (5) must be at most low (4)";
        QTest::newRow("high above highHigh")
            << QByteArray("[Sensor4]\nhigh=2\nhighHigh=1")
            << "t.ini:3: [Sensor4] highHigh: high (2) must be at most highHigh (1)";
        QTest::newRow("negative deadband") << QByteArray("[Sensor1]\ndeadband=-0.5")
                                           << "t.ini:2: [Sensor1] deadband: must be at least 0, not -0.5";
        QTest::newRow("unknown priority")
            << QByteArray("[Sensor1]\npriority=urgent")
            << "t.ini:2: [Sensor1] priority: \"urgent\" is no priority; give high, "
               "medium or low";
        QTest::newRow("quote not closed") << QByteArray("[Sensor1]\nname=\"Boiler")
                                          << "t.ini:2: [Sensor1] name: the closing quote is missing";
        QTest::newRow("negative silentAfter") << QByteArray("[Station]\nsilentAfter=-1")
                                              << "t.ini:2: [Station] silentAfter: must be at least 0, not -1";
        QTest::newRow("not UTF-8") << QByteArray("[Sensor1]\nname=\xff")
                                   << "t.ini:2: [Sensor1] the line is not UTF-8 text";
    }
    void badFiles()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, error);
        try {
            parseLimits(text, QStringLiteral("t.ini"));
            QFAIL("no error");
        } catch (const StationError &e) {
            QCOMPARE(e.error(), (Error{ErrorCode::LimitsInvalid, error}));
        }
    }

    // A hand-written file: comments, a byte order mark, quotes, an empty
    // limit, keys left out; then the writer's text of it reads back the same.
    void goodFileReadsAndWritesBack()
    {
        const QByteArray text = "\xef\xbb\xbf; written by hand\n"
                                "[Sensor2]\n"
                                "name = \"Boiler, \\\"top\\\" \"\n"
                                "high = 85.5\nhighHigh = 85.5\nlow=\nlowLow = -1e1\n"
                                "deadband=0.25\ndelay=2.5\npriority=high\n"
                                "# the station\n[Station]\nsilentAfter=60\n";
        AlarmLimits expected = AlarmLimits::defaults();
        SensorLimits &sensor = expected.sensor(2);
        sensor.name = QStringLiteral("Boiler, \"top\" ");
        sensor.high = 85.5;
        sensor.highHigh = 85.5;
        sensor.lowLow = -10;
        sensor.deadband = 0.25;
        sensor.delay = std::chrono::milliseconds(2500);
        sensor.priority = AlarmPriority::High;
        expected.sensor(4).unit = QStringLiteral("mm/s\tpeak\n");
        expected.silentAfter = std::chrono::seconds(60);
        AlarmLimits read = parseLimits(text, QStringLiteral("t.ini"));
        read.sensor(4).unit = expected.sensor(4).unit; // not in the text: shows quoting of control characters
        QCOMPARE(read, expected);

        QTemporaryDir dir;
        const QString path = limitsFilePath(dir.path());
        writeLimitsFile(path, expected);
        QCOMPARE(readLimitsFile(path), expected);
        QCOMPARE(readLimitsFile(dir.filePath(QStringLiteral("none.ini"))), AlarmLimits::defaults());
    }
};

QTEST_GUILESS_MAIN(TestLimitsFile)
#include "tst_limitsfile.moc"
