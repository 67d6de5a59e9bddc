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
// a non-zero status once the operator has read the error box.
class TestProgram : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void missingStoreIsNamedAndNothingIsCreated();
    void missingStoreEndsTheProgramOnceAnswered();
};

namespace {

constexpr int timeoutMs = 30000;

// A copy of the executable in dir, which thereby is its application directory.
QString installCopy(const QTemporaryDir &dir)
{
    const QString program = dir.filePath(QStringLiteral("quillfern"));
    if (!QFile::copy(qEnvironmentVariable("QF_BIN_DIR") + QStringLiteral("/quillfern"), program))
        return {};
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return program;
}

QStringList entries(const QTemporaryDir &dir)
{
    return QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

// The error report's line: the application title, the number and a
// description that names the missing file.
bool isMissingStoreLine(const QString &line, const QTemporaryDir &dir)
{
    return line.startsWith(QStringLiteral("Tarnwick: Error 3024: ")) &&
           line.contains(dir.filePath(QStringLiteral("velk.mdb")));
}

} // namespace

// Headless, nobody can answer the box: the line on the error stream and the
// untouched directory are checked while the box waits, then the test ends
// the program.
void TestProgram::missingStoreIsNamedAndNothingIsCreated()
{
    QTemporaryDir dir;
    const QString program = installCopy(dir);
    QVERIFY(!program.isEmpty());

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    QByteArray errors;
    connect(&process, &QProcess::readyReadStandardError, this,
            [&] { errors += process.readAllStandardError(); });
    process.start(program, {});
    QVERIFY(process.waitForStarted());

    QTRY_VERIFY_WITH_TIMEOUT(errors.contains("Error 3024"), timeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(errors.contains('\n'), timeoutMs);
    const QString line =
        QString::fromLocal8Bit(errors).split(QLatin1Char('\n')).filter(QStringLiteral("3024")).first();
    QVERIFY2(isMissingStoreLine(line, dir), qPrintable(line));
    QCOMPARE(process.state(), QProcess::Running); // the error box waits for the operator
    QCOMPARE(entries(dir), QStringList{QStringLiteral("quillfern")});

    process.kill();
    QVERIFY(process.waitForFinished(timeoutMs));
}

// On a virtual X display an operator stand-in (xdotool) answers the box
// titled with the application title; the program then ends with a non-zero
// status.
void TestProgram::missingStoreEndsTheProgramOnceAnswered()
{
    const QString xvfbRun = QStandardPaths::findExecutable(QStringLiteral("xvfb-run"));
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    if (xvfbRun.isEmpty() || xdotool.isEmpty())
        QSKIP("needs xvfb-run and xdotool");

    QTemporaryDir dir;
    const QString program = installCopy(dir);
    QVERIFY(!program.isEmpty());

    // The shell's status is the program's: wait hands it on.
    const QString operatorStandIn = QStringLiteral(
        "\"$1\" & app=$!\n"
        "box=$(timeout 20 xdotool search --sync --onlyvisible --name '^Tarnwick$' | head -n 1)\n"
        "xdotool windowfocus --sync \"$box\" key Return\n"
        "wait \"$app\"\n");
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // In a sanitizer build, the X keyboard library's strndup of a keymap name
    // trips AddressSanitizer's strict string checks before the station runs.
    if (env.contains(QStringLiteral("ASAN_OPTIONS"))) {
        QStringList options = env.value(QStringLiteral("ASAN_OPTIONS")).split(QLatin1Char(':'));
        options.removeIf([](const QString &option) { return option.startsWith(u"strict_string_checks"); });
        env.insert(QStringLiteral("ASAN_OPTIONS"), options.join(QLatin1Char(':')));
    }
    process.setProcessEnvironment(env);
    // Its own process group, so that a stuck run is ended with its display.
    process.setChildProcessModifier([] { ::setsid(); });
    process.start(xvfbRun, {QStringLiteral("-a"), QStringLiteral("-s"),
                            QStringLiteral("-screen 0 1024x768x24"), QStringLiteral("sh"),
                            QStringLiteral("-c"), operatorStandIn, QStringLiteral("sh"), program});
    QVERIFY(process.waitForStarted());
    if (!process.waitForFinished(timeoutMs)) {
        ::kill(-pid_t(process.processId()), SIGKILL);
        process.waitForFinished();
        QFAIL("the program did not end after its error box was answered");
    }

    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
    const QStringList lines = errors.split(QLatin1Char('\n')).filter(QStringLiteral("3024"));
    QVERIFY2(lines.size() == 1 && isMissingStoreLine(lines.first(), dir), qPrintable(errors));
    QCOMPARE(entries(dir), QStringList{QStringLiteral("quillfern")});
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
