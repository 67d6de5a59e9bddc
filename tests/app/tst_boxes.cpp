#include "app/defaulterrorreport.h"
#include "app/qtmessageboxes.h"
#include "support/fakes.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <unistd.h>

using namespace qf;

// The real message boxes the operator answers and the default error report;
// then the quillfern executable itself, started in an application directory
// that lacks the store: it names the missing file, creates nothing, and ends
// with a non-zero status once the operator has read the error box (an
// operator stand-in answers it on a virtual X display).
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
                   .arg(box->windowTitle(), box->text(), keyOf("Icon", box->icon()), buttons.join(u' '),
                        keyOf("StandardButton", box->standardButton(box->defaultButton())));
        if (press == QMessageBox::NoButton)
            QTest::keyClick(box, Qt::Key_Escape);
        else
            box->button(press)->click();
    });
}

// Runs a hook when the first box is asked for.
struct HookedBoxes : FakeMessageBoxes {
    MsgAnswer msgBox(const QString &prompt, MsgStyles style, const QString &title) override
    {
        if (shown().isEmpty())
            atFirstBox();
        return FakeMessageBoxes::msgBox(prompt, style, title);
    }
    std::function<void()> atFirstBox;
};

} // namespace

class TestBoxes : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The delete-all confirmation defaults to No and Escape answers No; a
    // box without a title of its own shows the application's.
    void boxes_data()
    {
        QTest::addColumn<MsgStyles>("style");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QMessageBox::StandardButton>("press");
        QTest::addColumn<QString>("seen");
        QTest::addColumn<MsgAnswer>("answer");
        const MsgStyles confirm = MsgStyle::YesNo | MsgStyle::Critical | MsgStyle::DefaultButton2;
        const QString box = "Confirmation Box", seen = box + ": the prompt, Critical [Yes No] default No";
        QTest::newRow("confirmation, Yes") << confirm << box << QMessageBox::Yes << seen << MsgAnswer::Yes;
        QTest::newRow("Escape is No") << confirm << box << QMessageBox::NoButton << seen << MsgAnswer::No;
        QTest::newRow("untitled warning")
            << (MsgStyle::OkOnly | MsgStyle::Exclamation) << "" << QMessageBox::Ok
            << "Tarnwick: the prompt, Warning [Ok] default Ok" << MsgAnswer::Ok;
    }

    void boxes()
    {
        QFETCH(MsgStyles, style);
        QFETCH(QString, title);
        QFETCH(QMessageBox::StandardButton, press);
        QtMessageBoxes boxes;
        QString shown;
        answerNextBox(shown, press);
        QTEST(boxes.msgBox("the prompt", style, title), "answer");
        QTEST(shown, "seen");
    }

    // The line goes to the error stream before the box waits; the program
    // ends once, after the box; an error reported while the box is open adds
    // its line but no second box.
    void errorReportWritesShowsThenEndsOnce()
    {
        char *buffer = nullptr;
        size_t size = 0;
        std::FILE *stream = ::open_memstream(&buffer, &size);
        HookedBoxes boxes;
        QList<int> ends;
        DefaultErrorReport report(boxes, stream,
                                  [&](int status) { ends << status << int(boxes.shown().size()); });
        QByteArray atBox;
        boxes.atFirstBox = [&] {
            atBox = QByteArray(buffer, qsizetype(size));
            report.report(Error{ErrorCode::PortNotOpen, "second"});
        };

        report.report(Error{ErrorCode::StoreMissing, "Could not find file '/opt/q/velk.mdb'."});
        std::fclose(stream);
        const QByteArray written(buffer, qsizetype(size));
        std::free(buffer);

        const QString line = "Error 3024: Could not find file '/opt/q/velk.mdb'.";
        QCOMPARE(boxes.shown(), (Boxes{{line, MsgStyle::Critical, "Tarnwick"}}));
        QCOMPARE(ends, (QList<int>{1, 1})); // status 1, after the one box
        QCOMPARE(atBox, "Tarnwick: " + line.toLocal8Bit() + '\n');
        QCOMPARE(written, atBox + "Tarnwick: Error 8012: second\n");
    }

    // On a virtual X display an operator stand-in (xdotool) answers the box
    // titled with the application title; the program then ends with status 1.
    void missingStoreEndsTheProgramOnceAnswered()
    {
        constexpr int programMs = 30000;
        // A copy of the executable in a fresh directory, which thereby is its
        // application directory.
        QTemporaryDir dir;
        const QString program = dir.filePath("quillfern");
        QVERIFY(QFile::copy(qEnvironmentVariable("QF_BIN_DIR") + "/quillfern", program));
        const QString xvfbRun = QStandardPaths::findExecutable("xvfb-run");
        QVERIFY2(!xvfbRun.isEmpty() && !QStandardPaths::findExecutable("xdotool").isEmpty(),
                 "needs xvfb-run and xdotool (test.sh installs them)");
        // The shell's status is the program's: wait hands it on.
        const QString operatorStandIn = QStringLiteral(
            "\"$1\" & app=$!\n"
            "box=$(timeout 20 xdotool search --sync --onlyvisible --name '^Tarnwick$' | head -n 1)\n"
            "xdotool windowfocus --sync \"$box\" key Return\n"
            "wait \"$app\"\n");
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "xcb");
        // In a sanitizer build, the X keyboard library's strndup of a keymap
        // name trips AddressSanitizer's strict string checks before the
        // station runs (a later option overrides an earlier one).
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":strict_string_checks=0");
        process.setProcessEnvironment(env);
        process.setChildProcessModifier([] { ::setsid(); }); // a stuck run is ended with its display
        process.start(xvfbRun,
                      {"-a", "-s", "-screen 0 1024x768x24", "sh", "-c", operatorStandIn, "sh", program});
        QVERIFY(process.waitForStarted());
        if (!process.waitForFinished(programMs)) {
            ::kill(-pid_t(process.processId()), SIGKILL);
            process.waitForFinished();
            QFAIL("the program did not end after its error box was answered");
        }
        QCOMPARE(std::pair(process.exitStatus(), process.exitCode()), std::pair(QProcess::NormalExit, 1));
        // One line of the error report: the application title, the number and
        // a description that names the missing file.
        const QByteArray errors = process.readAllStandardError();
        const QStringList lines = QString::fromLocal8Bit(errors).split(u'\n').filter("3024");
        QVERIFY2(lines.size() == 1 && lines.first().startsWith("Tarnwick: Error 3024: ") &&
                     lines.first().contains(dir.filePath("velk.mdb")),
                 errors.constData());
        QCOMPARE(
            QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
            QStringList{"quillfern"});
    }
};

QTEST_MAIN(TestBoxes)
#include "tst_boxes.moc"
