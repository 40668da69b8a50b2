// Starting another program detached (the updater, the assistance tool): it gets no
// arguments, none of our standard streams, a session of its own, and is not our child.
#include "platform/platform.h"
#include "support/testmain.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// Writes what the started program sees of itself to "<script>.out", in one step.
const char kRecorder[] = R"sh(#!/bin/sh
n=$#
in=$(readlink /proc/$$/fd/0)
out=$(readlink /proc/$$/fd/1)
err=$(readlink /proc/$$/fd/2)
set -- $(cat /proc/$$/stat)
printf 'arguments=%s\nparent=%s\nsession=%s\nstdin=%s\nstdout=%s\nstderr=%s\n' \
  "$n" "$4" "$6" "$in" "$out" "$err" > "$0.tmp" && mv "$0.tmp" "$0.out"
)sh";

QMap<QString, QString> readRecord(const QString &path)
{
    QMap<QString, QString> record;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return record;
    const auto lines = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    for (const QString &line : lines)
        record.insert(line.section(u'=', 0, 0), line.section(u'=', 1));
    return record;
}

} // namespace

class DetachedStartTest : public QObject
{
    Q_OBJECT

private slots:
    void startsDetachedWithNothingOfOurs();
    void reportsWhatCannotBeStarted_data();
    void reportsWhatCannotBeStarted();

private:
    QTemporaryDir m_dir;
};

void DetachedStartTest::startsDetachedWithNothingOfOurs()
{
    const QString script = m_dir.filePath(QStringLiteral("recorder"));
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(kRecorder);
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    QVERIFY(platform::startDetached(script.toStdU16String()));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(script + QStringLiteral(".out")), 10000);

    const auto record = readRecord(script + QStringLiteral(".out"));
    QCOMPARE(record.value(QStringLiteral("arguments")), QStringLiteral("0"));
    QVERIFY(record.value(QStringLiteral("parent")) != QString::number(getpid()));
    QVERIFY(record.value(QStringLiteral("session")) != QString::number(getsid(0)));
    for (const char *stream : { "stdin", "stdout", "stderr" })
        QCOMPARE(record.value(QLatin1String(stream)), QStringLiteral("/dev/null"));

    // Nothing is left for us to reap.
    errno = 0;
    QCOMPARE(waitpid(-1, nullptr, WNOHANG), -1);
    QCOMPARE(errno, ECHILD);
}

void DetachedStartTest::reportsWhatCannotBeStarted_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("missing") << m_dir.filePath(QStringLiteral("no-such-program"));
    QTest::newRow("not executable") << m_dir.filePath(QStringLiteral("plain-file"));
    QTest::newRow("a folder") << m_dir.filePath(QStringLiteral("folder"));
    QTest::newRow("empty name") << QString();
}

void DetachedStartTest::reportsWhatCannotBeStarted()
{
    QFETCH(QString, program);
    QFile plain(m_dir.filePath(QStringLiteral("plain-file")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.write("#!/bin/sh\nexit 0\n");
    plain.close();
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("folder")));

    QVERIFY(!platform::startDetached(program.toStdU16String()));
}

TESSARINO_TEST_MAIN(DetachedStartTest)
#include "tst_detachedstart.moc"
