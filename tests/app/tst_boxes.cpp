#include "app/defaulterrorreport.h"
#include "app/qtmessageboxes.h"
#include "support/fakes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QMetaEnum>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

// The real message boxes the operator answers, and the default error report.
class TestBoxes : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void boxes_data();
    void boxes();
    void errorReportWritesShowsThenEndsOnce();
};

namespace {

// The name of a value of one of the box's enumerations ("Icon", "StandardButton").
QString keyOf(const char *enumeration, int value)
{
    const QMetaObject &box = QMessageBox::staticMetaObject;
    return QString::fromLatin1(box.enumerator(box.indexOfEnumerator(enumeration)).valueToKey(value));
}

// Waits for the modal box, describes what it shows in `seen` and presses
// `press` (Escape when `press` is NoButton).
void answerNextBox(QString &seen, QMessageBox::StandardButton press)
{
    QTimer::singleShot(0, qApp, [&seen, press] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return answerNextBox(seen, press); // not up yet: look again on the next turn
        QStringList buttons;
        for (QAbstractButton *button : box->buttons())
            buttons << keyOf("StandardButton", box->standardButton(button));
        seen = QStringLiteral("%1: %2, %3 [%4] default %5")
                   .arg(box->windowTitle(), box->text(), keyOf("Icon", box->icon()),
                        buttons.join(QLatin1Char(' ')),
                        keyOf("StandardButton", box->standardButton(box->defaultButton())));
        if (press == QMessageBox::NoButton)
            QTest::keyClick(box, Qt::Key_Escape);
        else
            box->button(press)->click();
    });
}

} // namespace

// The delete-all confirmation defaults to No and Escape answers No; a box
// without a title of its own shows the application's.
void TestBoxes::boxes_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QMessageBox::StandardButton>("press");
    QTest::addColumn<QString>("seen");
    QTest::addColumn<int>("answer");

    const int confirm = MsgStyle::YesNo | MsgStyle::Critical | MsgStyle::DefaultButton2;
    const QString confirmation = QStringLiteral("Confirmation Box: the prompt, Critical [Yes No] default No");
    QTest::newRow("confirmation answered Yes")
        << confirm << "Confirmation Box" << QMessageBox::Yes << confirmation << MsgAnswer::Yes;
    QTest::newRow("confirmation escaped is No")
        << confirm << "Confirmation Box" << QMessageBox::NoButton << confirmation << MsgAnswer::No;
    QTest::newRow("warning without a title of its own")
        << MsgStyle::Exclamation << "" << QMessageBox::Ok << "Tarnwick: the prompt, Warning [Ok] default Ok"
        << MsgAnswer::Ok;
}

void TestBoxes::boxes()
{
    QFETCH(int, style);
    QFETCH(QString, title);
    QFETCH(QMessageBox::StandardButton, press);
    QFETCH(QString, seen);
    QFETCH(int, answer);

    QtMessageBoxes boxes;
    QString shown;
    answerNextBox(shown, press);
    QCOMPARE(boxes.msgBox(QStringLiteral("the prompt"), style, title), answer);
    QCOMPARE(shown, seen);
}

namespace {
// Notes what the error stream holds when the box is asked for; while the
// first box is open, the event loop hands another error to the report.
class ReenteringBoxes : public FakeMessageBoxes {
public:
    int msgBox(const QString &prompt, int style, const QString &title) override
    {
        if (shown().isEmpty()) {
            streamAtBox = QByteArray(*buffer, qsizetype(*size));
            report->report(Error{ErrorCode::PortNotOpen, QStringLiteral("second")});
        }
        return FakeMessageBoxes::msgBox(prompt, style, title);
    }
    char **buffer = nullptr;
    size_t *size = nullptr;
    ErrorReport *report = nullptr;
    QByteArray streamAtBox;
};
} // namespace

// The line goes to the error stream before the box waits; the program ends
// once, after the box; a later error adds its line but no second box.
void TestBoxes::errorReportWritesShowsThenEndsOnce()
{
    char *buffer = nullptr;
    size_t size = 0;
    std::FILE *stream = ::open_memstream(&buffer, &size);
    QVERIFY(stream);
    ReenteringBoxes boxes;
    QList<int> ends;
    DefaultErrorReport report(boxes, stream,
                              [&](int status) { ends << status << int(boxes.shown().size()); });
    boxes.buffer = &buffer;
    boxes.size = &size;
    boxes.report = &report;

    report.report(Error{ErrorCode::StoreMissing, QStringLiteral("Could not find file '/opt/q/velk.mdb'.")});
    std::fclose(stream);
    const QByteArray written(buffer, qsizetype(size));
    std::free(buffer);

    const QString line = QStringLiteral("Error 3024: Could not find file '/opt/q/velk.mdb'.");
    QCOMPARE(boxes.shown().size(), 1);
    QCOMPARE(boxes.shown().first().prompt, line);
    QCOMPARE(boxes.shown().first().style, MsgStyle::Critical);
    QCOMPARE(boxes.shown().first().title, QStringLiteral("Tarnwick"));
    QCOMPARE(ends, (QList<int>{1, 1})); // status 1, after the one box
    QCOMPARE(boxes.streamAtBox, "Tarnwick: " + line.toLocal8Bit() + '\n');
    QCOMPARE(written, boxes.streamAtBox + "Tarnwick: Error 8012: second\n");
}

QTEST_MAIN(TestBoxes)
#include "tst_boxes.moc"
