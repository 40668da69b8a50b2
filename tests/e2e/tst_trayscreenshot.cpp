// The program on a display with a real notification-area host: the tray is there, the
// program's icon is embedded in it and drawn, and a screenshot of the window and the
// tray is kept in the build's artifacts folder for a person to look at.
#include "e2e.h"
#include "support/testmain.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRect>
#include <QSet>
#include <QTest>

using namespace tests;

namespace {

constexpr int kScreenWidth = 800;
constexpr int kScreenHeight = 600;
constexpr int kTrayHeight = 32; // the host's panel, along the bottom edge

// What xwininfo tells of one window.
struct WindowInfo
{
    QRect geometry; // in root coordinates
    bool viewable = false;
    QString parent; // the parent's id; empty for the root window itself
};

QString xwininfo(const XServer &x, const QStringList &arguments)
{
    QProcess p;
    p.setProcessEnvironment(x.environment());
    p.start(QStringLiteral("xwininfo"), arguments);
    p.waitForFinished(10000);
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

int field(const QString &text, const QString &label)
{
    for (const QString &line : text.split(u'\n')) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(label))
            return trimmed.mid(label.size()).trimmed().toInt();
    }
    return 0;
}

WindowInfo windowInfo(const XServer &x, const QString &id)
{
    WindowInfo info;
    const QString text = xwininfo(x, { QStringLiteral("-id"), id });
    info.geometry = QRect(field(text, QStringLiteral("Absolute upper-left X:")),
        field(text, QStringLiteral("Absolute upper-left Y:")),
        field(text, QStringLiteral("Width:")), field(text, QStringLiteral("Height:")));
    info.viewable = text.contains(QStringLiteral("Map State: IsViewable"));
    const QString tree = xwininfo(x, { QStringLiteral("-children"), QStringLiteral("-id"), id });
    for (const QString &line : tree.split(u'\n')) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(QStringLiteral("Parent window id:"))
            && !trimmed.contains(QStringLiteral("(the root window)"))) {
            info.parent = trimmed.section(u' ', 3, 3);
        }
    }
    return info;
}

QStringList ids(const QString &xdotoolOutput)
{
    return xdotoolOutput.split(u'\n', Qt::SkipEmptyParts);
}

// The program's tray icon as the host shows it: a viewable window of the program that
// sits inside one of the host's windows. Empty when there is none (yet).
QRect embeddedTrayIcon(const XServer &x, qint64 pid, const QStringList &hostWindows)
{
    const QStringList windows = ids(
        x.xdotool({ QStringLiteral("search"), QStringLiteral("--pid"), QString::number(pid) }));
    for (const QString &id : windows) {
        const WindowInfo icon = windowInfo(x, id);
        if (!icon.viewable || icon.geometry.isEmpty())
            continue;
        for (QString up = icon.parent; !up.isEmpty(); up = windowInfo(x, up).parent) {
            bool ok = false;
            const qulonglong number = up.toULongLong(&ok, 16);
            for (const QString &host : hostWindows) {
                if (ok && host.toULongLong() == number)
                    return icon.geometry;
            }
        }
    }
    return {};
}

int distinctColours(const QImage &image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    }
    return int(colours.size());
}

} // namespace

class TrayScreenshotTest : public QObject
{
    Q_OBJECT

private slots:
    void windowAndTrayIconShow();
};

void TrayScreenshotTest::windowAndTrayIconShow()
{
    XServer x;
    QVERIFY(x.start(kScreenWidth, kScreenHeight));
    TrayHost host;
    QVERIFY(host.start(x));
    const QStringList hostWindows = ids(x.xdotool(
        { QStringLiteral("search"), QStringLiteral("--class"), QStringLiteral("trayer") }));
    QVERIFY(!hostWindows.isEmpty());

    Sandbox sandbox;
    QVERIFY(sandbox.prepare());

    // Qt on this display finds a tray and gets a place in it for our icon.
    QProcess probe;
    probe.setProcessEnvironment(sandbox.environment(x));
    probe.start(QStringLiteral(TESSARINO_TRAYPROBE),
        { sandbox.programFolder() + QStringLiteral("/seven.ico") });
    QVERIFY(probe.waitForFinished(30000));
    const QStringList seen
        = QString::fromLocal8Bit(probe.readAllStandardOutput()).simplified().split(u' ');
    // "available 1 icon 1 geometry x y width height"
    QCOMPARE(seen.size(), 9);
    QCOMPARE(seen.at(1), QStringLiteral("1")); // the tray is available
    QCOMPARE(seen.at(3), QStringLiteral("1")); // the shipped icon loads
    // The icon's place is inside the host's panel along the bottom edge.
    const QRect probed(
        seen.at(5).toInt(), seen.at(6).toInt(), seen.at(7).toInt(), seen.at(8).toInt());
    QVERIFY(!probed.isEmpty());
    QVERIFY(QRect(0, kScreenHeight - kTrayHeight, kScreenWidth, kTrayHeight).contains(probed));

    RunningProgram program;
    QVERIFY(program.start(sandbox, x));
    const QString window = waitForWindowOf(x, program.pid(), QStringLiteral("Orvane"));
    QVERIFY2(!window.isEmpty(), qPrintable(program.report(x)));
    const QRect windowArea = windowInfo(x, window).geometry;
    QCOMPARE(windowArea.size(), QSize(410, 225));

    QRect iconArea;
    QTRY_VERIFY_WITH_TIMEOUT(
        !(iconArea = embeddedTrayIcon(x, program.pid(), hostWindows)).isEmpty(), 15000);
    QVERIFY(QRect(0, kScreenHeight - kTrayHeight, kScreenWidth, kTrayHeight).contains(iconArea));

    const QString shot = sandbox.root() + QStringLiteral("/screenshot.png");
    QVERIFY(x.screenshot(shot));
    const QImage screen(shot);
    QCOMPARE(screen.size(), QSize(kScreenWidth, kScreenHeight));
    // Drawn, not an empty square in the host's colour: the icon has a picture, the
    // window its banner and form.
    QVERIFY(distinctColours(screen.copy(iconArea)) > 2);
    QVERIFY(distinctColours(screen.copy(windowArea)) > 8);

    QVERIFY(QDir().mkpath(QStringLiteral(TESSARINO_ARTIFACTS)));
    const QString kept = QStringLiteral(TESSARINO_ARTIFACTS "/screenshot.png");
    QFile::remove(kept);
    QVERIFY(QFile::copy(shot, kept));
    qInfo("screenshot: %s", qPrintable(kept));
}

TESSARINO_TEST_MAIN(TrayScreenshotTest)
#include "tst_trayscreenshot.moc"
