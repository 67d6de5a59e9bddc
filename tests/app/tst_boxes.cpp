#include "app/defaulterrorreport.h"
#include "app/qtmessageboxes.h"
#include "support/fakes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <optional>

// The real message boxes (what the operator sees for each style code and
// what each button answers) and the default error report.
class TestBoxes : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void styles_data();
    void styles();
    void errorReportWritesShowsThenEnds();
    void errorsWhileTheBoxIsOpenAddOnlyTheirLine();
};

namespace {

struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QList<QMessageBox::StandardButton> buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// Waits for the modal box, notes what it shows and presses `press` (or
// Escape when `press` is NoButton).
void answerNextBox(SeenBox &seen, QMessageBox::StandardButton press)
{
    QTimer::singleShot(0, qApp, [&seen, press] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            answerNextBox(seen, press); // not up yet: look again on the next turn
            return;
        }
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        for (QAbstractButton *button : box->buttons())
            seen.buttons << box->standardButton(button);
        seen.defaultButton =
            box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton;
        if (press == QMessageBox::NoButton)
            QTest::keyClick(box, Qt::Key_Escape);
        else
            box->button(press)->click();
    });
}

} // namespace

void TestBoxes::styles_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("press"); // a standard button, or NoButton for Escape
    QTest::addColumn<QString>("shownTitle");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QList<QMessageBox::StandardButton>>("buttons");
    QTest::addColumn<int>("defaultButton");
    QTest::addColumn<int>("answer");

    const QList<QMessageBox::StandardButton> yesNo{QMessageBox::Yes, QMessageBox::No};
    const QList<QMessageBox::StandardButton> ok{QMessageBox::Ok};
    const int confirm = MsgStyle::YesNo | MsgStyle::Critical | MsgStyle::DefaultButton2;
    QTest::newRow("confirmation answered Yes")
        << confirm << "Confirmation Box" << int(QMessageBox::Yes) << "Confirmation Box"
        << int(QMessageBox::Critical) << yesNo << int(QMessageBox::No) << MsgAnswer::Yes;
    QTest::newRow("confirmation answered No")
        << confirm << "Confirmation Box" << int(QMessageBox::No) << "Confirmation Box"
        << int(QMessageBox::Critical) << yesNo << int(QMessageBox::No) << MsgAnswer::No;
    QTest::newRow("confirmation escaped is No")
        << confirm << "Confirmation Box" << int(QMessageBox::NoButton) << "Confirmation Box"
        << int(QMessageBox::Critical) << yesNo << int(QMessageBox::No) << MsgAnswer::No;
    QTest::newRow("warning without a title of its own")
        << MsgStyle::Exclamation << "" << int(QMessageBox::Ok) << "Tarnwick" << int(QMessageBox::Warning)
        << ok << int(QMessageBox::Ok) << MsgAnswer::Ok;
    QTest::newRow("plain OK box escaped is OK")
        << MsgStyle::OkOnly << "" << int(QMessageBox::NoButton) << "Tarnwick" << int(QMessageBox::NoIcon)
        << ok << int(QMessageBox::Ok) << MsgAnswer::Ok;
    QTest::newRow("Yes and No, first button default")
        << MsgStyle::YesNo << "t" << int(QMessageBox::Yes) << "t" << int(QMessageBox::NoIcon) << yesNo
        << int(QMessageBox::Yes) << MsgAnswer::Yes;
}

void TestBoxes::styles()
{
    QFETCH(int, style);
    QFETCH(QString, title);
    QFETCH(int, press);
    QFETCH(QString, shownTitle);
    QFETCH(int, icon);
    QFETCH(QList<QMessageBox::StandardButton>, buttons);
    QFETCH(int, defaultButton);
    QFETCH(int, answer);

    QtMessageBoxes boxes;
    SeenBox seen;
    answerNextBox(seen, QMessageBox::StandardButton(press));
    QCOMPARE(boxes.msgBox(QStringLiteral("the prompt"), style, title), answer);
    QCOMPARE(seen.title, shownTitle);
    QCOMPARE(seen.text, QStringLiteral("the prompt"));
    QCOMPARE(int(seen.icon), icon);
    QCOMPARE(seen.buttons, buttons);
    QCOMPARE(int(seen.defaultButton), defaultButton);
}

namespace {
// Notes when it is asked for a box, relative to what the stream holds then.
class OrderedBoxes : public FakeMessageBoxes {
public:
    explicit OrderedBoxes(std::FILE *stream) : m_stream(stream) {}
    int msgBox(const QString &prompt, int style, const QString &title) override
    {
        m_streamBytesAtBox = std::ftell(m_stream);
        return FakeMessageBoxes::msgBox(prompt, style, title);
    }
    long streamBytesAtBox() const { return m_streamBytesAtBox; }

private:
    std::FILE *m_stream;
    long m_streamBytesAtBox = -1;
};
} // namespace

void TestBoxes::errorReportWritesShowsThenEnds()
{
    std::FILE *stream = std::tmpfile();
    QVERIFY(stream);
    OrderedBoxes boxes(stream);
    std::optional<int> endedWith;
    int boxesAtEnd = -1;
    DefaultErrorReport report(boxes, stream, [&](int status) {
        endedWith = status;
        boxesAtEnd = int(boxes.shown().size());
    });

    report.report(Error{ErrorCode::StoreMissing, QStringLiteral("Could not find file '/opt/q/velk.mdb'.")});

    const QString line = QStringLiteral("Error 3024: Could not find file '/opt/q/velk.mdb'.");
    QCOMPARE(boxes.shown().size(), 1);
    QCOMPARE(boxes.shown().first().prompt, line);
    QCOMPARE(boxes.shown().first().style, MsgStyle::Critical);
    QCOMPARE(boxes.shown().first().title, QStringLiteral("Tarnwick"));
    QVERIFY(endedWith.has_value());
    QVERIFY(*endedWith != 0);
    QCOMPARE(boxesAtEnd, 1); // the program ends after the box, not before

    std::rewind(stream);
    char buffer[256] = {};
    QVERIFY(std::fgets(buffer, sizeof buffer, stream));
    std::fclose(stream);
    QCOMPARE(QString::fromLocal8Bit(buffer), QStringLiteral("Tarnwick: ") + line + QLatin1Char('\n'));
    QCOMPARE(boxes.streamBytesAtBox(), long(qstrlen(buffer))); // the line is out before the box waits
}

namespace {
// A box during which the event loop hands another failing handler's error
// to the report.
class ReenteringBoxes : public FakeMessageBoxes {
public:
    ErrorReport *report = nullptr;
    int msgBox(const QString &prompt, int style, const QString &title) override
    {
        if (shown().isEmpty())
            report->report(Error{ErrorCode::PortNotOpen, QStringLiteral("second")});
        return FakeMessageBoxes::msgBox(prompt, style, title);
    }
};
} // namespace

void TestBoxes::errorsWhileTheBoxIsOpenAddOnlyTheirLine()
{
    std::FILE *stream = std::tmpfile();
    QVERIFY(stream);
    ReenteringBoxes boxes;
    QList<int> ends;
    DefaultErrorReport report(boxes, stream, [&](int status) { ends << status; });
    boxes.report = &report;

    report.report(Error{ErrorCode::WriteFailed, QStringLiteral("first")});

    QCOMPARE(boxes.shown().size(), 1);
    QCOMPARE(boxes.shown().first().prompt, QStringLiteral("Error 8013: first"));
    QCOMPARE(ends, QList<int>{DefaultErrorReport::ExitStatus});
    std::rewind(stream);
    char buffer[512] = {};
    const size_t n = std::fread(buffer, 1, sizeof buffer - 1, stream);
    std::fclose(stream);
    QCOMPARE(QString::fromLocal8Bit(buffer, qsizetype(n)),
             QStringLiteral("Tarnwick: Error 8013: first\nTarnwick: Error 8012: second\n"));
}

QTEST_MAIN(TestBoxes)
#include "tst_boxes.moc"
