// Connect, end to end: the program (test variant, loopback selector) on an Xvfb display
// with a tray host, driven with xdotool like a person; the loopback HTTPS selector; a
// fake Remote Desktop client first on the PATH that records its arguments, standard
// input and environment. Then a restart that connects with what was remembered.
#include "lookup/userenvironment.h"
#include "store/passwordprotection.h"
#include "store/persistentdictionary.h"
#include "e2e.h"
#include "support/selectorserver.h"
#include "support/testmain.h"
#include "support/xsession.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <sys/stat.h>

namespace {

const QString kDomain = QStringLiteral("ACME");
const QString kUser = QStringLiteral("mario");
// A blank inside and characters a shell would take apart.
const QString kPassword = QStringLiteral("Segreto 7f$q\"9");
const QString kTitle = QStringLiteral("Orvane");

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestConnect : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void typedCredentialsConnectAndHide();
    void restartConnectsWithRememberedCredentials();

private:
    void startProgram();
    QString mainWindow() const;
    void chooseFromTrayMenu(const QStringList &keys);
    void quitFromTray();
    QString waitForNewClientRun();
    void checkClientRun(const QString &run);
    void checkPasswordNotLeaked();

    tests::XServer m_x;
    tests::TrayHost m_tray;
    tests::SelectorServer m_selector;
    tests::ChildProcess m_program;
    QTemporaryDir m_fake;
    QString m_records;
    QStringList m_seenRuns;
    QByteArray m_programOutput;
};

void TestConnect::initTestCase()
{
    QVERIFY2(m_selector.start(tests::SelectorServer::Certificate::Trusted,
                              TESSARINO_TEST_SELECTOR_PORT),
             qPrintable(m_selector.errorString()));
    m_selector.setDefaultAnswer(
        R"({"TerminalServerDetails": {"host": "ts1.example", "port": 3389}})");

    // The recording client, found before any real one. Each run records into a folder
    // of its own, moved into place when complete.
    QVERIFY(m_fake.isValid());
    m_records = m_fake.filePath(QStringLiteral("records"));
    QVERIFY(QDir().mkpath(m_records));
    QFile client(m_fake.filePath(QStringLiteral("xfreerdp")));
    QVERIFY(client.open(QIODevice::WriteOnly));
    client.write("#!/bin/sh\n"
                 "PATH=/usr/bin:/bin\n"
                 "work=\"" + m_records.toLocal8Bit() + "/.run.$$\"\n"
                 "mkdir -p \"$work\"\n"
                 "printf '%s\\0' \"$@\" > \"$work/argv\"\n"
                 "cat > \"$work/stdin\"\n"
                 "cat /proc/$$/environ > \"$work/environ\"\n"
                 "mv \"$work\" \"" + m_records.toLocal8Bit() + "/run.$$\"\n");
    client.close();
    QVERIFY(client.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    qputenv("PATH", m_fake.path().toLocal8Bit() + ':' + qgetenv("PATH"));

    QVERIFY(m_x.start());
    QVERIFY(m_tray.start(m_x));
    startProgram();
}

void TestConnect::cleanupTestCase()
{
    m_program.stop();
}

void TestConnect::startProgram()
{
    // The program shares this test's private HOME, so the test can read its store and
    // open its protected texts afterwards.
    QVERIFY(m_program.start(QStringLiteral(TESSARINO_LOOPBACK_PROGRAM), {}, m_x.environment()));
    QDeadlineTimer deadline(15000);
    while (mainWindow().isEmpty() && !deadline.hasExpired())
        QThread::msleep(100);
    QVERIFY2(!mainWindow().isEmpty(), "the main window did not show");
}

// The main window when it is shown. The tray icon's own small window, docked in the
// panel, may carry the same name.
QString TestConnect::mainWindow() const
{
    const QStringList windows =
        m_x.xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                     QStringLiteral("--pid"), QString::number(m_program.pid()),
                     QStringLiteral("--name"), QLatin1Char('^') + kTitle + QLatin1Char('$')})
            .split(u'\n', Qt::SkipEmptyParts);
    for (const QString &window : windows) {
        if (tests::windowGeometry(m_x, window).width() > 100)
            return window;
    }
    return {};
}

// Opens the tray menu with the right button on the icon docked in the panel, then
// chooses an entry with the keyboard.
void TestConnect::chooseFromTrayMenu(const QStringList &keys)
{
    QVERIFY2(!tests::openTrayMenu(m_x, m_program.pid()).isNull(), "the tray menu did not open");
    m_x.xdotool(QStringList{QStringLiteral("key"), QStringLiteral("--delay"),
                            QStringLiteral("100")}
                + keys);
}

void TestConnect::quitFromTray()
{
    // "&Esci" is the last entry: Up from no selection lands on it.
    chooseFromTrayMenu({QStringLiteral("Up"), QStringLiteral("Return")});
    QVERIFY(m_program.process().waitForFinished(15000));
    QCOMPARE(m_program.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_program.process().exitCode(), 0);
    m_programOutput += m_program.process().readAllStandardOutput();
    m_programOutput += m_program.process().readAllStandardError();
}

QString TestConnect::waitForNewClientRun()
{
    QStringList fresh;
    QDeadlineTimer deadline(20000);
    while (fresh.isEmpty() && !deadline.hasExpired()) {
        fresh = QDir(m_records).entryList({QStringLiteral("run.*")}, QDir::Dirs);
        for (const QString &seen : std::as_const(m_seenRuns))
            fresh.removeAll(seen);
        if (fresh.isEmpty())
            QThread::msleep(100);
    }
    if (fresh.size() != 1)
        return {};
    m_seenRuns << fresh.first();
    return m_records + u'/' + fresh.first();
}

// The client was given the file, the server and the domain on its command line, and
// the password on its standard input only.
void TestConnect::checkClientRun(const QString &run)
{
    QVERIFY2(!run.isEmpty(), "the client did not run (once)");
    UserEnvironment environment;
    QVERIFY(environment.load());
    const QString file = environment.profileFolder + QStringLiteral("/my.rdp");
    QCOMPARE(readAll(run + QStringLiteral("/argv")).split('\0'),
             QByteArrayList({QFile::encodeName(file), "/v:ts1.example:3389", "/f",
                             "/cert:tofu", "/from-stdin:force", "/d:ACME", ""}));
    QCOMPARE(readAll(run + QStringLiteral("/stdin")), kPassword.toUtf8() + '\n');
    QVERIFY(!readAll(run + QStringLiteral("/environ")).contains(kPassword.toUtf8()));

    // The file: the shipped template, then the three lines, the password protected.
    const QByteArray shipped = readAll(QFileInfo(QStringLiteral(TESSARINO_LOOPBACK_PROGRAM))
                                           .absoluteDir()
                                           .filePath(QStringLiteral("default.rdp")));
    QVERIFY(!shipped.isEmpty());
    const QByteArray bytes = readAll(file);
    const QByteArray head = shipped + "domain:s:ACME\r\nusername:s:mario\r\npassword 51:b:";
    QVERIFY(bytes.startsWith(head));
    QVERIFY(bytes.endsWith("\r\n"));
    const QString protectedText = QString::fromLatin1(bytes.mid(head.size()).chopped(2));
    QVERIFY(!protectedText.isEmpty());
    QCOMPARE(unprotectPassword(protectedText), kPassword);
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(file).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0077, mode_t(0));
}

void TestConnect::checkPasswordNotLeaked()
{
    const QByteArray secret = kPassword.toUtf8();
    // No command line or environment of any process holds it.
    QCOMPARE(tests::processesExposing(secret), QList<qint64>());
    // Nor what the program wrote, nor any file under the user's HOME (store, key,
    // connection file: the password is only ever kept protected).
    m_programOutput += m_program.process().readAllStandardOutput();
    m_programOutput += m_program.process().readAllStandardError();
    QVERIFY(!m_programOutput.contains(secret));
    QDirIterator files(QDir::homePath(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        QVERIFY2(!readAll(path).contains(secret), qPrintable(path));
    }
}

void TestConnect::typedCredentialsConnectAndHide()
{
    const QString window = mainWindow();
    m_x.xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
    // The first start focuses the domain field; the fields follow in tab order.
    const QStringList type{QStringLiteral("type"), QStringLiteral("--delay"),
                           QStringLiteral("30")};
    m_x.xdotool(type + QStringList{kDomain});
    m_x.xdotool({QStringLiteral("key"), QStringLiteral("Tab")});
    m_x.xdotool(type + QStringList{kUser});
    m_x.xdotool({QStringLiteral("key"), QStringLiteral("Tab")});
    m_x.xdotool(type + QStringList{kPassword});
    // Tick "Memorizza Password", then press "  Connetti".
    m_x.xdotool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("100"),
                 QStringLiteral("Tab"), QStringLiteral("space"), QStringLiteral("Tab"),
                 QStringLiteral("space")});

    checkClientRun(waitForNewClientRun());
    QCOMPARE(m_selector.logins(), QStringList{kUser});
    QTRY_VERIFY_WITH_TIMEOUT(mainWindow().isEmpty(), 10000);
    QVERIFY(m_program.isRunning());
    checkPasswordNotLeaked();
}

void TestConnect::restartConnectsWithRememberedCredentials()
{
    quitFromTray();
    startProgram();

    // All three fields come back filled, so the focus is in the user field: keys typed
    // now extend the remembered user name.
    m_x.xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), mainWindow()});
    m_x.xdotool({QStringLiteral("key"), QStringLiteral("End"), QStringLiteral("x")});
    // "&Connetti" is the first entry of the tray menu.
    chooseFromTrayMenu({QStringLiteral("Down"), QStringLiteral("Return")});

    const QString run = waitForNewClientRun();
    QCOMPARE(m_selector.logins(), QStringList({kUser, kUser + u'x'}));
    QVERIFY2(!run.isEmpty(), "the client did not run (once)");
    // Domain and password came from the store.
    QCOMPARE(readAll(run + QStringLiteral("/stdin")), kPassword.toUtf8() + '\n');
    QVERIFY(readAll(run + QStringLiteral("/argv")).contains(QByteArray("/d:ACME\0", 8)));
    QTRY_VERIFY_WITH_TIMEOUT(mainWindow().isEmpty(), 10000);
    checkPasswordNotLeaked();

    // The box came back ticked: this connect remembered the password again.
    quitFromTray();
    UserEnvironment environment;
    QVERIFY(environment.load());
    PersistentDictionary store(environment);
    store.Open();
    QCOMPARE(store.Get(QStringLiteral("utente")), kUser + u'x');
    QCOMPARE(store.Get(QStringLiteral("memorizza")), QStringLiteral("1"));
    QCOMPARE(unprotectPassword(store.Get(QStringLiteral("password"))), kPassword);
}

TESSARINO_TEST_MAIN(TestConnect)
#include "tst_connect.moc"
