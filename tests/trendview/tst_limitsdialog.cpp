// "Alarm limits…": each rule of the limits marks the fields it names and
// holds OK back as the operator types; a good form is written to the file.

#include "alarms/limitsfile.h"
#include "trendview/limitsdialog.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace qf;

using Edits = QList<std::pair<LimitsKey, QString>>;
using Keys = QList<LimitsKey>;

namespace {

constexpr int EditedSensor = 2;
const QByteArray Limits = "[Sensor2]\nname=Feed\nunit=bar\nhighHigh=40\nhigh=35\nlow=10\nlowLow=5\n"
                          "deadband=1\ndelay=2\npriority=high\n";

} // namespace

class TestLimitsDialog : public QObject {
    Q_OBJECT
private slots:
    void validatesAsTyped_data()
    {
        QTest::addColumn<Edits>("edits"); // typed into Sensor2's fields
        QTest::addColumn<Keys>("marked"); // Sensor2's fields marked wrong; none: OK writes
        QTest::newRow("low below high")
            << Edits{{LimitsKey::Low, "35"}} << Keys{LimitsKey::Low, LimitsKey::High};
        QTest::newRow("lowLow not above low")
            << Edits{{LimitsKey::LowLow, "11"}} << Keys{LimitsKey::LowLow, LimitsKey::Low};
        QTest::newRow("high not above highHigh")
            << Edits{{LimitsKey::High, "40.5"}} << Keys{LimitsKey::High, LimitsKey::HighHigh};
        QTest::newRow("deadband not negative")
            << Edits{{LimitsKey::Deadband, "-0.1"}} << Keys{LimitsKey::Deadband};
        QTest::newRow("a number") << Edits{{LimitsKey::HighHigh, "4O"}} << Keys{LimitsKey::HighHigh};
        QTest::newRow("equal on one side, an empty limit")
            << Edits{{LimitsKey::LowLow, "10"}, {LimitsKey::HighHigh, ""}, {LimitsKey::Name, "Feed \"2\""}}
            << Keys{};
    }
    void validatesAsTyped()
    {
        QFETCH(Edits, edits);
        QFETCH(Keys, marked);
        QTemporaryDir dir;
        const QString path = limitsFilePath(dir.path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(Limits) == Limits.size());
        file.close();
        LimitsDialog dialog(path, AlarmLimits::defaults());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QVERIFY(dialog.okButton()->isEnabled());
        for (const auto &[key, text] : edits) {
            dialog.field(EditedSensor, key)->selectAll();
            if (text.isEmpty())
                QTest::keyClick(dialog.field(EditedSensor, key), Qt::Key_Delete);
            else
                QTest::keyClicks(dialog.field(EditedSensor, key), text);
        }
        for (int sensor = 0; sensor <= schema::SensorCount; ++sensor) {
            for (int key = 0; key < LimitsKeyCount; ++key) {
                const QLineEdit *field = dialog.field(sensor, LimitsKey(key));
                if (field && (sensor > 0 || key == 0))
                    QCOMPARE(field->property(LimitsDialog::InvalidProperty).toBool(),
                             sensor == EditedSensor && marked.contains(LimitsKey(key)));
            }
        }
        QCOMPARE(dialog.okButton()->isEnabled(), marked.isEmpty());
        if (!marked.isEmpty())
            return;
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        AlarmLimits expected = parseLimits(Limits, path);
        expected.sensor(EditedSensor).lowLow = 10;
        expected.sensor(EditedSensor).highHigh.reset();
        expected.sensor(EditedSensor).name = QStringLiteral("Feed \"2\"");
        QVERIFY(readLimitsFile(path) == expected);
    }
};

QTEST_MAIN(TestLimitsDialog)
#include "tst_limitsdialog.moc"
