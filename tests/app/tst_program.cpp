#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <unistd.h>

// The quillfern executable itself, started in an application directory that
// lacks the store: it names the missing file, creates nothing, and ends with
// a non-zero status once the operator has read the error box.
class TestProgram : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void missingStoreIsNamedAndNothingIsCreated();
    void missingStoreEndsTheProgramOnceAnswered();

private:
    // The error report's line: the application title, the number and a
    // description that names the missing file.
    bool isMissingStoreLine(const QString &line) const
    {
        return line.startsWith(QStringLiteral("Tarnwick: Error 3024: ")) &&
               line.contains(m_dir->filePath(QStringLiteral("velk.mdb")));
    }
    QStringList entries() const
    {
        return QDir(m_dir->path())
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_program;
};

namespace {
constexpr int timeoutMs = 30000;
}

// A copy of the executable in a fresh directory, which thereby is its
// application directory.
void TestProgram::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_program = m_dir->filePath(QStringLiteral("quillfern"));
    QVERIFY(QFile::copy(qEnvironmentVariable("QF_BIN_DIR") + QStringLiteral("/quillfern"), m_program));
    QFile::setPermissions(m_program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Headless, nobody can answer the box: the line on the error stream and the
// untouched directory are checked while the box waits, then the test ends
// the program.
void TestProgram::missingStoreIsNamedAndNothingIsCreated()
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(m_program, {});
    QVERIFY(process.waitForStarted());

    // The whole line, before the operator has answered.
    QByteArray errors;
    QTRY_VERIFY_WITH_TIMEOUT(
        (errors += process.readAllStandardError()).contains("3024") && errors.endsWith('\n'), timeoutMs);
    const QStringList lines =
        QString::fromLocal8Bit(errors).split(QLatin1Char('\n')).filter(QStringLiteral("3024"));
    QVERIFY2(lines.size() == 1 && isMissingStoreLine(lines.first()), errors.constData());
    QCOMPARE(process.state(), QProcess::Running); // the error box waits for the operator
    QCOMPARE(entries(), QStringList{QStringLiteral("quillfern")});
    process.kill();
    QVERIFY(process.waitForFinished(timeoutMs));
}

// On a virtual X display an operator stand-in (xdotool) answers the box
// titled with the application title; the program then ends with status 1.
void TestProgram::missingStoreEndsTheProgramOnceAnswered()
{
    const QString xvfbRun = QStandardPaths::findExecutable(QStringLiteral("xvfb-run"));
    if (xvfbRun.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("needs xvfb-run and xdotool");

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
    process.start(xvfbRun,
                  {"-a", "-s", "-screen 0 1024x768x24", "sh", "-c", operatorStandIn, "sh", m_program});
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
    QVERIFY2(lines.size() == 1 && isMissingStoreLine(lines.first()), qPrintable(errors));
    QCOMPARE(entries(), QStringList{QStringLiteral("quillfern")});
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
