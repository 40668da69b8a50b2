// The connection file (content, bytes on disk, replacement, removal) and the start of
// the Remote Desktop client, against a fake client that records what it was given.
#include "connect/clientcommand.h"
#include "connect/connectionfile.h"
#include "support/testmain.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes,
               QFileDevice::Permissions permissions = QFileDevice::ReadOwner
                                                      | QFileDevice::WriteOwner)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size()
           && file.setPermissions(permissions);
}

const QFileDevice::Permissions executable = QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                            | QFileDevice::ExeOwner;

// A client that records its arguments (NUL-separated), its standard input, its
// environment and its session id into a folder of its own, renamed into place when
// complete so that a test never reads a half-written record.
QByteArray recordingClient(const QString &recordFolder)
{
    return "#!/bin/sh\n"
           "PATH=/usr/bin:/bin\n"
           "work=\"" + recordFolder.toLocal8Bit() + "/.run.$$\"\n"
           "mkdir -p \"$work\"\n"
           "printf '%s\\0' \"$@\" > \"$work/argv\"\n"
           "cat > \"$work/stdin\"\n"
           "cat /proc/$$/environ > \"$work/environ\"\n"
           "cut -d' ' -f6 /proc/$$/stat > \"$work/sid\"\n"
           "mv \"$work\" \"" + recordFolder.toLocal8Bit() + "/run.$$\"\n";
}

} // namespace

class TestConnectionFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void content_data();
    void content();
    void windowsParameters_data();
    void windowsParameters();
    void freerdpArguments();

    void path();
    void writtenBytesArePrivateAndUntranslated();
    void secondWriteReplacesFirst();
    void unwritablePathFails_data();
    void unwritablePathFails();
    void discard();

    void clientGetsArgumentsAndPasswordOnStdinOnly();
    void clientFallsBackToVersionThree();
    void clientThatCannotStartFails_data();
    void clientThatCannotStartFails();

private:
    QString launchAndWait(const QString &password, bool *started);

    std::unique_ptr<QTemporaryDir> m_dir;
    QByteArray m_path;
};

void TestConnectionFile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = qgetenv("PATH");
}

void TestConnectionFile::cleanup()
{
    qputenv("PATH", m_path);
    m_dir.reset();
}

void TestConnectionFile::content_data()
{
    QTest::addColumn<QString>("rdpTemplate");
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("protectedPassword");
    QTest::addColumn<QString>("expected");

    const QString lines = "domain:s:ACME\r\nusername:s:mario\r\npassword 51:b:01AB\r\n";
    QTest::newRow("template ending with CR LF")
        << "screen mode id:i:2\r\nfull address:s:x\r\n" << "ACME" << "mario" << "01AB"
        << "screen mode id:i:2\r\nfull address:s:x\r\n" + lines;
    QTest::newRow("template without a final line break")
        << "screen mode id:i:2" << "ACME" << "mario" << "01AB"
        << "screen mode id:i:2" + lines;
    QTest::newRow("template with the same names: kept, ours last")
        << "domain:s:OLD\r\nusername:s:old\r\npassword 51:b:FF\r\n" << "ACME" << "mario"
        << "01AB" << "domain:s:OLD\r\nusername:s:old\r\npassword 51:b:FF\r\n" + lines;
    QTest::newRow("empty template") << "" << "ACME" << "mario" << "01AB" << lines;
    QTest::newRow("failed protection")
        << "" << "ACME" << "mario" << ""
        << "domain:s:ACME\r\nusername:s:mario\r\npassword 51:b:\r\n";
    QTest::newRow("control characters cannot add lines")
        << "" << QString("AC\r\nME\x7f") << QString("ma\nrio\r\npassword 51:b:00\t")
        << "01AB"
        << "domain:s:ACME\r\nusername:s:mariopassword 51:b:00\r\npassword 51:b:01AB\r\n";
    QTest::newRow("NUL and other controls")
        << "" << QStringView(u"A\u0000C\u001fM\u0001E", 7).toString() << "mario" << "01AB" << lines;
    QTest::newRow("non-ASCII kept") << "" << QString::fromUtf16(u"Universit\u00e0")
                                    << QString::fromUtf16(u"n\u00e9e") << "01AB"
                                    << QString::fromUtf16(u"domain:s:Universit\u00e0\r\n"
                                                          u"username:s:n\u00e9e\r\n"
                                                          u"password 51:b:01AB\r\n");
}

void TestConnectionFile::content()
{
    QFETCH(QString, rdpTemplate);
    QFETCH(QString, domain);
    QFETCH(QString, user);
    QFETCH(QString, protectedPassword);
    QFETCH(QString, expected);
    QCOMPARE(connectionFileContent(rdpTemplate, domain, user, protectedPassword), expected);
}

void TestConnectionFile::windowsParameters_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("expected");

    QTest::newRow("normal") << "D:\\profile\\my.rdp" << "192.0.2.10" << "3389"
                            << "\"D:\\profile\\my.rdp\" /v:192.0.2.10:3389 /f";
    QTest::newRow("empty port") << "D:\\profile\\my.rdp" << "ts1.example" << ""
                                << "\"D:\\profile\\my.rdp\" /v:ts1.example: /f";
    QTest::newRow("path with a space")
        << "C:\\Users\\Mario Rossi\\AppData\\my.rdp" << "ts1.example" << "3390"
        << "\"C:\\Users\\Mario Rossi\\AppData\\my.rdp\" /v:ts1.example:3390 /f";
}

void TestConnectionFile::windowsParameters()
{
    QFETCH(QString, file);
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromStdU16String(clientcommand::windowsParameters(
                 file.toStdU16String(), host.toStdU16String(), port.toStdU16String())),
             expected);
}

void TestConnectionFile::freerdpArguments()
{
    const std::vector<std::u16string> expected{
        u"/home/mario rossi/my.rdp", u"/v:ts1.example:3389", u"/f", u"/cert:tofu",
        u"/from-stdin:force", u"/d:ACME"};
    QVERIFY(clientcommand::freerdpArguments(u"/home/mario rossi/my.rdp", u"ts1.example",
                                            u"3389", u"AC\nME")
            == expected);
}

void TestConnectionFile::path()
{
    QCOMPARE(connectionFilePath("/home/u/.local/share/Tessarino/D/u"),
             "/home/u/.local/share/Tessarino/D/u/my.rdp");
}

void TestConnectionFile::writtenBytesArePrivateAndUntranslated()
{
    // Even with a permissive umask the file must not be readable by others.
    const mode_t oldMask = ::umask(0);
    const QString path = connectionFilePath(m_dir->path());
    const bool written = writeConnectionFile(path, "a:i:1\r\nb:i:2\nc:s:x", "ACME",
                                             QString::fromUtf16(u"n\u00e9e"), "01AB");
    ::umask(oldMask);
    QVERIFY(written);

    // The system code page here is UTF-8; no byte-order mark; line breaks as given.
    QCOMPARE(readAll(path), QByteArray("a:i:1\r\nb:i:2\nc:s:xdomain:s:ACME\r\n"
                                       "username:s:n\xc3\xa9"
                                       "e\r\npassword 51:b:01AB\r\n"));
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, mode_t(0600));
    // Nothing left behind next to it.
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"my.rdp"});
}

void TestConnectionFile::secondWriteReplacesFirst()
{
    const QString path = connectionFilePath(m_dir->path());
    QVERIFY(writeConnectionFile(path, QString(200, QChar('x')) + "\r\n", "LONGDOMAIN",
                                "longuser", "0123456789ABCDEF"));
    QVERIFY(writeConnectionFile(path, "", "D", "u", "AB"));
    QCOMPARE(readAll(path), QByteArray("domain:s:D\r\nusername:s:u\r\npassword 51:b:AB\r\n"));
}

void TestConnectionFile::unwritablePathFails_data()
{
    QTest::addColumn<QString>("relative");
    QTest::newRow("folder missing") << "missing/my.rdp";
    QTest::newRow("a folder in the way") << "folder/my.rdp";
}

void TestConnectionFile::unwritablePathFails()
{
    QFETCH(QString, relative);
    QVERIFY(QDir(m_dir->path()).mkpath("folder/my.rdp/inside"));
    QVERIFY(!writeConnectionFile(m_dir->filePath(relative), "", "D", "u", "AB"));
}

void TestConnectionFile::discard()
{
    const QString path = connectionFilePath(m_dir->path());

    // No file: nothing to do.
    QVERIFY(discardConnectionFile(path));

    QVERIFY(writeFile(path, "old"));
    QVERIFY(discardConnectionFile(path));
    QVERIFY(!QFileInfo::exists(path));

    // A dangling link is removed, not followed.
    QVERIFY(QFile::link(m_dir->filePath("nowhere"), path));
    QVERIFY(discardConnectionFile(path));
    QVERIFY(!QFileInfo(path).isSymLink());

    // Something that cannot be deleted as a file (this holds for root too).
    QVERIFY(QDir(m_dir->path()).mkpath("my.rdp/inside"));
    QVERIFY(!discardConnectionFile(path));
    QVERIFY(QFileInfo(path).isDir());
}

QString TestConnectionFile::launchAndWait(const QString &password, bool *started)
{
    const QString records = m_dir->filePath("records");
    QDir().mkpath(records);
    *started = launchRemoteDesktopClient("/home/mario rossi/my.rdp", "ts1.example", "3389",
                                         "ACME", password);
    if (!*started)
        return {};
    QStringList runs;
    const bool ran = QTest::qWaitFor([&] {
        runs = QDir(records).entryList({"run.*"}, QDir::Dirs);
        return !runs.isEmpty();
    });
    if (!ran)
        return {};
    return runs.size() == 1 ? records + '/' + runs.first() : QString();
}

void TestConnectionFile::clientGetsArgumentsAndPasswordOnStdinOnly()
{
    const QString bin = m_dir->filePath("bin");
    QVERIFY(QDir().mkpath(bin));
    QVERIFY(writeFile(bin + "/xfreerdp", recordingClient(m_dir->filePath("records")),
                      executable));
    // A FreeRDP 3 client later on the PATH must not be chosen over it.
    QVERIFY(writeFile(bin + "/xfreerdp3", "#!/bin/sh\nexit 0\n", executable));
    qputenv("PATH", bin.toLocal8Bit() + ':' + m_path);

    const QString password = QString::fromUtf16(u"pa ss\u00e8\"$x");
    bool started = false;
    const QString run = launchAndWait(password, &started);
    QVERIFY(started);
    QVERIFY(!run.isEmpty());

    QCOMPARE(readAll(run + "/argv").split('\0'),
             QByteArrayList({"/home/mario rossi/my.rdp", "/v:ts1.example:3389", "/f",
                             "/cert:tofu", "/from-stdin:force", "/d:ACME", ""}));
    QCOMPARE(readAll(run + "/stdin"), password.toUtf8() + '\n');
    QVERIFY(!readAll(run + "/environ").contains(password.toUtf8()));
    QVERIFY(!readAll(run + "/environ").isEmpty());

    // The client runs in a session of its own, and no child of ours is left to reap.
    QVERIFY(readAll(run + "/sid").trimmed().toLong() != long(::getsid(0)));
    errno = 0;
    QCOMPARE(::waitpid(-1, nullptr, WNOHANG), pid_t(-1));
    QCOMPARE(errno, ECHILD);
}

void TestConnectionFile::clientFallsBackToVersionThree()
{
    const QString bin = m_dir->filePath("bin");
    QVERIFY(QDir().mkpath(bin));
    QVERIFY(writeFile(bin + "/xfreerdp3", recordingClient(m_dir->filePath("records")),
                      executable));
    qputenv("PATH", bin.toLocal8Bit());

    bool started = false;
    const QString run = launchAndWait("secret", &started);
    QVERIFY(started);
    QVERIFY(!run.isEmpty());
    QCOMPARE(readAll(run + "/stdin"), QByteArray("secret\n"));
}

void TestConnectionFile::clientThatCannotStartFails_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<bool>("isExecutable");

    QTest::newRow("not installed") << QByteArray() << false;
    QTest::newRow("not executable") << QByteArray("#!/bin/sh\nexit 0\n") << false;
    QTest::newRow("exec fails") << QByteArray("#!/nonexistent/interpreter\n") << true;
}

void TestConnectionFile::clientThatCannotStartFails()
{
    QFETCH(QByteArray, script);
    QFETCH(bool, isExecutable);

    const QString bin = m_dir->filePath("bin");
    QVERIFY(QDir().mkpath(bin));
    if (!script.isEmpty())
        QVERIFY(writeFile(bin + "/xfreerdp", script,
                          isExecutable ? executable
                                       : QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    qputenv("PATH", bin.toLocal8Bit());

    QVERIFY(!launchRemoteDesktopClient(m_dir->filePath("my.rdp"), "ts1.example", "3389", "D",
                                       "secret"));
    errno = 0;
    QCOMPARE(::waitpid(-1, nullptr, WNOHANG), pid_t(-1));
    QCOMPARE(errno, ECHILD);
}

TESSARINO_TEST_MAIN(TestConnectionFile)
#include "tst_connectionfile.moc"
