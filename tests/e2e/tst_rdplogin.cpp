// A real Remote Desktop login, end to end: the program (test variant, loopback
// selector) on an Xvfb display with a tray host, driven with xdotool like a person;
// the loopback HTTPS selector; the real FreeRDP client it starts; a real RDP server
// with NLA whose desktop shows one colour.
#include "e2e.h"
#include "support/rdpserver.h"
#include "support/selectorserver.h"
#include "support/testmain.h"
#include "support/xsession.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QImage>
#include <QThread>

#include <csignal>

namespace {

const QString kDomain = QStringLiteral("DEMO");
const QString kUser = QStringLiteral("demo");
const QString kPassword = QStringLiteral("Segreto-7f3q9");
const QString kWrongPassword = QStringLiteral("Sbagliata-2k8");
const QColor kDesktopColour(0xc0, 0x30, 0x20);

bool closeTo(const QColor &a, const QColor &b)
{
    const int tolerance = 40; // the session's video encoding is lossy
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
        && qAbs(a.blue() - b.blue()) <= tolerance;
}

} // namespace

class TestRdpLogin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void wrongPasswordGivesNoSession();
    void rightPasswordOpensTheDesktop();
    void rememberedCredentialsLogInAfterRestart();

private:
    void startProgram();
    void quitFromTray();
    void clickTrayIcon(const QStringList &clickArguments);
    void chooseFromTrayMenu(bool last);
    void pressConnettiFromTray();
    QList<qint64> clients() const;
    bool waitForSession(const QString &screenshotName);
    void stopClients();
    void checkPasswordNotLeaked();

    tests::XServer m_x;
    tests::TrayHost m_tray;
    tests::RdpServer m_rdp;
    tests::SelectorServer m_selector;
    tests::ChildProcess m_program;
    QString m_artifacts;
};

void TestRdpLogin::initTestCase()
{
    m_artifacts = QStringLiteral(TESSARINO_ARTIFACTS);
    QDir().mkpath(m_artifacts);

    QVERIFY(m_rdp.start(kDomain, kUser, kPassword, kDesktopColour));
    QVERIFY2(
        m_selector.start(tests::SelectorServer::Certificate::Trusted, TESSARINO_TEST_SELECTOR_PORT),
        qPrintable(m_selector.errorString()));
    m_selector.setDefaultAnswer(
        QStringLiteral(R"({"TerminalServerDetails": {"host": "127.0.0.1", "port": %1}})")
            .arg(m_rdp.port())
            .toUtf8());
    QVERIFY(m_x.start());
    QVERIFY(m_tray.start(m_x));
    startProgram();
}

void TestRdpLogin::cleanupTestCase()
{
    stopClients();
    m_program.stop();
}

void TestRdpLogin::startProgram()
{
    QProcessEnvironment env = m_x.environment();
    QVERIFY(m_program.start(QStringLiteral(TESSARINO_LOOPBACK_PROGRAM), {}, env));
    QVERIFY(!m_x.waitForWindow(QStringLiteral("^Orvane$")).isEmpty());
}

QList<qint64> TestRdpLogin::clients() const
{
    return tests::processesWithCommandLine(QStringLiteral("/v:127.0.0.1:%1").arg(m_rdp.port()).toUtf8());
}

void TestRdpLogin::stopClients()
{
    for (qint64 pid : clients())
        ::kill(static_cast<pid_t>(pid), SIGTERM);
    QDeadlineTimer deadline(10000);
    while (!clients().isEmpty() && !deadline.hasExpired())
        QThread::msleep(100);
}

// The session is up when the client's window shows the server's desktop colour and
// the client is still running a few seconds later.
bool TestRdpLogin::waitForSession(const QString &screenshotName)
{
    if (m_x.waitForWindow(QStringLiteral("FreeRDP"), 30000).isEmpty()) {
        m_x.screenshot(m_artifacts + QStringLiteral("/no-client-") + screenshotName);
        return false;
    }
    const QString shot = m_artifacts + u'/' + screenshotName;
    QDeadlineTimer deadline(30000);
    bool coloured = false;
    while (!coloured && !deadline.hasExpired()) {
        QThread::msleep(500);
        if (m_x.screenshot(shot)) {
            const QImage image(shot);
            coloured = !image.isNull()
                && closeTo(image.pixelColor(image.width() / 2, image.height() / 2), kDesktopColour);
        }
    }
    QThread::sleep(3);
    return coloured && !clients().isEmpty();
}

void TestRdpLogin::clickTrayIcon(const QStringList &clickArguments)
{
    const QPoint icon = tests::trayIconCentre(m_x);
    QVERIFY2(!icon.isNull(), "no tray icon docked in the panel");
    m_x.xdotool({QStringLiteral("mousemove"), QString::number(icon.x()),
                 QString::number(icon.y())});
    m_x.xdotool(clickArguments);
}

// Opens the tray menu and clicks its first or last entry, as a person would
// ("&Connetti" is first, "&Esci" last).
void TestRdpLogin::chooseFromTrayMenu(bool last)
{
    const QRect menu = tests::openTrayMenu(m_x, m_program.pid());
    QVERIFY2(!menu.isNull(), "the tray menu did not open");
    const int y = last ? menu.bottom() - 11 : menu.top() + 12;
    m_x.xdotool({QStringLiteral("mousemove"), QString::number(menu.center().x()),
                 QString::number(y)});
    m_x.xdotool({QStringLiteral("click"), QStringLiteral("1")});
}

void TestRdpLogin::pressConnettiFromTray()
{
    chooseFromTrayMenu(false);
}

void TestRdpLogin::quitFromTray()
{
    chooseFromTrayMenu(true);
    QVERIFY(m_program.process().waitForFinished(15000));
    QCOMPARE(m_program.process().exitCode(), 0);
}

void TestRdpLogin::checkPasswordNotLeaked()
{
    const QByteArray secret = kPassword.toUtf8();
    // No command line or environment of any process on the machine holds it.
    QCOMPARE(tests::processesExposing(secret), QList<qint64>());
    // Nor the program's output, nor any file under the test's HOME.
    QVERIFY(!m_program.process().readAllStandardOutput().contains(secret));
    QVERIFY(!m_program.process().readAllStandardError().contains(secret));
    QDirIterator files(QDir::homePath(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(!file.readAll().contains(secret), qPrintable(file.fileName()));
    }
    QDirIterator shots(m_artifacts, QDir::Files);
    while (shots.hasNext())
        QVERIFY(!shots.next().contains(kPassword));
}

void TestRdpLogin::wrongPasswordGivesNoSession()
{
    const QString window = m_x.waitForWindow(QStringLiteral("^Orvane$"));
    m_x.xdotool({ QStringLiteral("windowfocus"), QStringLiteral("--sync"), window });
    // The first start focuses the domain field.
    m_x.xdotool(
        { QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"), kDomain });
    m_x.xdotool({ QStringLiteral("key"), QStringLiteral("Tab") });
    m_x.xdotool({ QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"), kUser });
    m_x.xdotool({ QStringLiteral("key"), QStringLiteral("Tab") });
    m_x.xdotool({ QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"),
        kWrongPassword });
    // Past the check box, unticked, to "  Connetti".
    m_x.xdotool({ QStringLiteral("key"), QStringLiteral("Tab"), QStringLiteral("Tab"),
        QStringLiteral("space") });

    // The selector is asked, the client starts and reaches the server (it records the
    // server's certificate on first use), fails the login and ends by itself; no
    // desktop is shown.
    QTRY_VERIFY_WITH_TIMEOUT(m_selector.logins().contains(kUser), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(
        QFile::exists(QDir::homePath() + QStringLiteral("/.config/freerdp/known_hosts2")), 20000);
    QDeadlineTimer ended(30000);
    while (!clients().isEmpty() && !ended.hasExpired())
        QThread::msleep(200);
    QVERIFY2(clients().isEmpty(), "the client kept running with a wrong password");
    const QString shot = m_artifacts + QStringLiteral("/rdp-wrong-password.png");
    QVERIFY(m_x.screenshot(shot));
    const QImage image(shot);
    QVERIFY(!closeTo(image.pixelColor(image.width() / 2, image.height() / 2), kDesktopColour));
}

void TestRdpLogin::rightPasswordOpensTheDesktop()
{
    // A double click on the tray icon brings the window back; with all three values
    // from the last attempt the focus is in the user field.
    clickTrayIcon({ QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("2"),
        QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("1") });
    const QString window = m_x.waitForWindow(QStringLiteral("^Orvane$"));
    QVERIFY(!window.isEmpty());
    m_x.xdotool({ QStringLiteral("windowfocus"), QStringLiteral("--sync"), window });
    m_x.xdotool({ QStringLiteral("key"), QStringLiteral("Tab"), QStringLiteral("ctrl+a") });
    m_x.xdotool(
        { QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"), kPassword });
    // Tick "Memorizza Password", then "  Connetti".
    m_x.xdotool({ QStringLiteral("key"), QStringLiteral("Tab"), QStringLiteral("space"),
        QStringLiteral("Tab"), QStringLiteral("space") });

    QVERIFY(waitForSession(QStringLiteral("rdp-login.png")));
    checkPasswordNotLeaked();
    stopClients();
}

void TestRdpLogin::rememberedCredentialsLogInAfterRestart()
{
    quitFromTray();
    startProgram();
    pressConnettiFromTray();
    QVERIFY(waitForSession(QStringLiteral("rdp-login-remembered.png")));
    checkPasswordNotLeaked();
    stopClients();
}

TESSARINO_TEST_MAIN(TestRdpLogin)
#include "tst_rdplogin.moc"
