// Start-up of the real program: the missing template, a second copy, a crashed first
// copy, and the update check with a fake updater.
#include "e2e.h"
#include "support/testmain.h"

#include <QFile>
#include <QTest>

#include <csignal>

using namespace tests;

namespace {

const QString kWindowTitle = QStringLiteral("Orvane");
const QString kUpdateCheckFailed = QStringLiteral("Fallita la verifica degli aggiornamenti.");
// Updater rows that are not an exit code.
constexpr int kNoUpdater = -1;
constexpr int kUpdaterNotExecutable = -2;

// A fake updater: it records the arguments of each run as one line ("[a][b]", or "[]"
// for none) and ends with `exitCode`. Started without arguments it waits a moment
// first, so its line shows that it ran on after the program had ended.
bool writeFakeUpdater(const QString &path, int exitCode)
{
    QFile script(path);
    if (!script.open(QIODevice::WriteOnly))
        return false;
    script.write(QStringLiteral("#!/bin/sh\n"
                                "[ $# -eq 0 ] && sleep 1\n"
                                "line=\n"
                                "for a in \"$@\"; do line=\"$line[$a]\"; done\n"
                                "echo \"${line:-[]}\" >> \"$0.calls\"\n"
                                "exit %1\n")
                     .arg(exitCode)
                     .toUtf8());
    script.close();
    return script.setPermissions(script.permissions() | QFile::ExeOwner);
}

QStringList recordedCalls(const QString &updater)
{
    QFile log(updater + QStringLiteral(".calls"));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

} // namespace

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void missingTemplateEndsBeforeAnyWindow();
    void secondCopyIsRefused();
    void crashedCopyDoesNotBlockTheNext();
    void updateCheck_data();
    void updateCheck();

private:
    XServer m_x;
};

void StartupTest::initTestCase()
{
    QVERIFY(m_x.start());
}

void StartupTest::missingTemplateEndsBeforeAnyWindow()
{
    Sandbox sandbox;
    QVERIFY(sandbox.prepare());
    QVERIFY(QFile::remove(sandbox.programFolder() + QStringLiteral("/default.rdp")));

    RunningProgram program;
    QVERIFY(program.start(sandbox, m_x));
    const QString box = waitForWindowOf(m_x, program.pid(), QStringLiteral("Attenzione"));
    QVERIFY2(!box.isEmpty(), qPrintable(program.report(m_x)));
    QVERIFY(windowOf(m_x, program.pid(), kWindowTitle).isEmpty());

    QVERIFY(pressKey(m_x, box, QStringLiteral("Return")));
    QVERIFY(program.waitForExit());
    QVERIFY(program.exitCode() > 0);
    QVERIFY(
        program.standardError().contains(sandbox.programFolder() + QStringLiteral("/default.rdp")));
}

void StartupTest::secondCopyIsRefused()
{
    Sandbox sandbox;
    QVERIFY(sandbox.prepare());

    RunningProgram first;
    QVERIFY(first.start(sandbox, m_x));
    QVERIFY2(
        !waitForWindowOf(m_x, first.pid(), kWindowTitle).isEmpty(), qPrintable(first.report(m_x)));

    RunningProgram second;
    QVERIFY(second.start(sandbox, m_x));
    const QString box = waitForWindowOf(m_x, second.pid(), QStringLiteral("Attenzione"));
    QVERIFY2(!box.isEmpty(), qPrintable(second.report(m_x)));
    QVERIFY(windowOf(m_x, second.pid(), kWindowTitle).isEmpty());
    QVERIFY(pressKey(m_x, box, QStringLiteral("Return")));
    QVERIFY(second.waitForExit());
    QCOMPARE(second.exitCode(), 1);

    // The first copy is untouched and still holds the lock: a third copy is refused too.
    QVERIFY(first.isRunning());
    QVERIFY(!windowOf(m_x, first.pid(), kWindowTitle).isEmpty());
    RunningProgram third;
    QVERIFY(third.start(sandbox, m_x));
    QVERIFY2(!waitForWindowOf(m_x, third.pid(), QStringLiteral("Attenzione")).isEmpty(),
        qPrintable(third.report(m_x)));
}

void StartupTest::crashedCopyDoesNotBlockTheNext()
{
    Sandbox sandbox;
    QVERIFY(sandbox.prepare());

    RunningProgram first;
    QVERIFY(first.start(sandbox, m_x));
    QVERIFY2(
        !waitForWindowOf(m_x, first.pid(), kWindowTitle).isEmpty(), qPrintable(first.report(m_x)));
    // Killed without a chance to clean up: its lock file stays behind.
    ::kill(static_cast<pid_t>(first.pid()), SIGKILL);
    QVERIFY(first.waitForExit());

    RunningProgram next;
    QVERIFY(next.start(sandbox, m_x));
    QVERIFY2(
        !waitForWindowOf(m_x, next.pid(), kWindowTitle).isEmpty(), qPrintable(next.report(m_x)));
    QVERIFY(windowOf(m_x, next.pid(), QStringLiteral("Attenzione")).isEmpty());
}

void StartupTest::updateCheck_data()
{
    QTest::addColumn<int>("updater"); // the fake updater's exit code, or kNoUpdater...
    QTest::addColumn<QString>("answer"); // key typed into the question, if one shows
    QTest::addColumn<bool>("started"); // the program goes on to its window
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<bool>("warned");

    const QStringList check { QStringLiteral("[/quickcheck][/justcheck]") };

    QTest::newRow("no updater") << kNoUpdater << QString() << true << QStringList() << true;
    QTest::newRow("updater not executable")
        << kUpdaterNotExecutable << QString() << true << QStringList() << true;
    QTest::newRow("no updates (0)") << 0 << QString() << true << check << false;
    QTest::newRow("check failed (1)") << 1 << QString() << true << check << false;
    QTest::newRow("updates, answer no") << 2 << QStringLiteral("n") << true << check << false;
    QTest::newRow("updates, answer yes") << 2 << QStringLiteral("y") << false
                                         << (check + QStringList { QStringLiteral("[]") }) << false;
}

void StartupTest::updateCheck()
{
    QFETCH(int, updater);
    QFETCH(QString, answer);
    QFETCH(bool, started);
    QFETCH(QStringList, calls);
    QFETCH(bool, warned);

    Sandbox sandbox;
    QVERIFY(sandbox.prepare());
    const QString updaterPath = sandbox.programFolder() + QStringLiteral("/wyUpdate");
    if (updater >= 0) {
        QVERIFY(writeFakeUpdater(updaterPath, updater));
    } else if (updater == kUpdaterNotExecutable) {
        QVERIFY(writeFakeUpdater(updaterPath, 2));
        QVERIFY(QFile::setPermissions(updaterPath, QFile::ReadOwner | QFile::WriteOwner));
    }

    RunningProgram program;
    QVERIFY(program.start(sandbox, m_x));
    if (!answer.isEmpty()) {
        const QString question
            = waitForWindowOf(m_x, program.pid(), QStringLiteral("Aggiornamenti disponibili"));
        QVERIFY2(!question.isEmpty(), qPrintable(program.report(m_x)));
        QVERIFY(pressKey(m_x, question, answer));
    }

    if (started) {
        // A question that should not be there would hold the window back.
        QVERIFY2(!waitForWindowOf(m_x, program.pid(), kWindowTitle).isEmpty(),
            qPrintable(program.report(m_x)));
        QVERIFY(program.isRunning());
    } else {
        QVERIFY(program.waitForExit());
        QCOMPARE(program.exitCode(), 1);
    }
    QTRY_COMPARE_WITH_TIMEOUT(recordedCalls(updaterPath), calls, 10000);

    program.stop();
    QCOMPARE(program.standardError().contains(kUpdateCheckFailed), warned);
}

TESSARINO_TEST_MAIN(StartupTest)
#include "tst_startup.moc"
