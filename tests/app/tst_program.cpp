#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

// The quillfern executable itself, started in an application directory that
// lacks the store: it names the missing file, creates nothing, and ends with
// a non-zero status once the operator has read the error box (an operator
// stand-in answers it on a virtual X display).
class TestProgram : public QObject {
    Q_OBJECT
    static constexpr int timeoutMs = 30000;

private Q_SLOTS:
    // On a virtual X display an operator stand-in (xdotool) answers the box
    // titled with the application title; the program then ends with status 1.
    void missingStoreEndsTheProgramOnceAnswered()
    {
        // A copy of the executable in a fresh directory, which thereby is its
        // application directory.
        QTemporaryDir dir;
        const QString program = dir.filePath("quillfern");
        QVERIFY(QFile::copy(qEnvironmentVariable("QF_BIN_DIR") + "/quillfern", program));
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
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
        // station runs.
        QStringList asan = env.value("ASAN_OPTIONS").split(u':', Qt::SkipEmptyParts);
        asan.removeIf([](const QString &option) { return option.startsWith(u"strict_string_checks"); });
        if (env.contains("ASAN_OPTIONS"))
            env.insert("ASAN_OPTIONS", asan.join(u':'));
        process.setProcessEnvironment(env);
        process.setChildProcessModifier([] { ::setsid(); }); // a stuck run is ended with its display
        process.start(xvfbRun,
                      {"-a", "-s", "-screen 0 1024x768x24", "sh", "-c", operatorStandIn, "sh", program});
        QVERIFY(process.waitForStarted());
        if (!process.waitForFinished(timeoutMs)) {
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

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
