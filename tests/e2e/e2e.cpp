#include "e2e.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QThread>

namespace tests {

bool Sandbox::prepare()
{
    if (!m_dir.isValid())
        return false;
    const QDir root(m_dir.path());
    for (const char *folder : { "home/.local/share", "home/.local/state", "home/.config",
             "home/.cache", "runtime", "program" }) {
        if (!root.mkpath(QString::fromLatin1(folder)))
            return false;
    }
    // Qt refuses a runtime folder that others may enter.
    QFile::setPermissions(root.filePath(QStringLiteral("runtime")),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    const QFileInfo shipped(QStringLiteral(TESSARINO_LOOPBACK_PROGRAM));
    const QDir source = shipped.absoluteDir();
    const auto files = source.entryInfoList(QDir::Files);
    for (const QFileInfo &file : files) {
        const QString target = programFolder() + QLatin1Char('/') + file.fileName();
        if (!QFile::copy(file.absoluteFilePath(), target)) {
            QWARN(qPrintable(QStringLiteral("cannot copy %1").arg(file.absoluteFilePath())));
            return false;
        }
    }
    return QFileInfo::exists(program());
}

QProcessEnvironment Sandbox::environment(const XServer &x) const
{
    QProcessEnvironment env = x.environment();
    const QString home = root() + QStringLiteral("/home");
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    env.insert(QStringLiteral("XDG_STATE_HOME"), home + QStringLiteral("/.local/state"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root() + QStringLiteral("/runtime"));
    return env;
}

bool RunningProgram::start(const Sandbox &sandbox, const XServer &x)
{
    // env(1) changes the folder and then executes the program in its own place, so the
    // process id we hold is the program's.
    return m_child.start(QStringLiteral("env"),
        { QStringLiteral("-C"), sandbox.programFolder(), sandbox.program() },
        sandbox.environment(x));
}

bool RunningProgram::waitForExit(int timeoutMs)
{
    if (!m_child.isRunning())
        return true;
    return m_child.process().waitForFinished(timeoutMs);
}

int RunningProgram::exitCode()
{
    QProcess &p = m_child.process();
    if (p.state() != QProcess::NotRunning || p.exitStatus() != QProcess::NormalExit)
        return -1;
    return p.exitCode();
}

QString RunningProgram::standardError()
{
    QProcess &p = m_child.process();
    // Without an event loop, what the program wrote is only fetched while we wait.
    p.setReadChannel(QProcess::StandardError);
    while (p.state() == QProcess::Running && p.waitForReadyRead(50))
        m_stderr += QString::fromLocal8Bit(p.readAllStandardError());
    m_stderr += QString::fromLocal8Bit(p.readAllStandardError());
    return m_stderr;
}

QString RunningProgram::report(const XServer &x)
{
    const QString errors = standardError(); // also notices an end
    const QString state = isRunning() ? QStringLiteral("still running")
                                      : QStringLiteral("ended with %1").arg(exitCode());
    QStringList titles;
    const QString ids = x.xdotool({ QStringLiteral("search"), QStringLiteral("--onlyvisible"),
        QStringLiteral("--pid"), QString::number(pid()) });
    for (const QString &id : ids.split(u'\n', Qt::SkipEmptyParts))
        titles << x.xdotool({ QStringLiteral("getwindowname"), id });
    return QStringLiteral("program %1, windows shown: [%2]; its standard error:\n%3")
        .arg(state, titles.join(QStringLiteral(", ")), errors);
}

QString windowOf(const XServer &x, qint64 pid, const QString &title)
{
    const QString ids = x.xdotool({ QStringLiteral("search"), QStringLiteral("--all"),
        QStringLiteral("--onlyvisible"), QStringLiteral("--pid"), QString::number(pid),
        QStringLiteral("--name"), QLatin1Char('^') + title + QLatin1Char('$') });
    return ids.isEmpty() ? QString() : ids.split(u'\n').constFirst();
}

QString waitForWindowOf(const XServer &x, qint64 pid, const QString &title, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    do {
        const QString id = windowOf(x, pid, title);
        if (!id.isEmpty())
            return id;
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    return {};
}

QRect windowGeometry(const XServer &x, const QString &windowId)
{
    QRect r;
    const QStringList lines =
        x.xdotool({ QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), windowId })
            .split(u'\n');
    for (const QString &line : lines) {
        const int value = line.section(u'=', 1).toInt();
        if (line.startsWith(u"X="))
            r.moveLeft(value);
        else if (line.startsWith(u"Y="))
            r.moveTop(value);
        else if (line.startsWith(u"WIDTH="))
            r.setWidth(value);
        else if (line.startsWith(u"HEIGHT="))
            r.setHeight(value);
    }
    return r;
}

QPoint trayIconCentre(const XServer &x)
{
    const QString panel = x.waitForWindow(QStringLiteral("^panel$"));
    if (panel.isEmpty())
        return {};
    QDeadlineTimer deadline(10000);
    do {
        const QRect r = windowGeometry(x, panel);
        if (r.width() > 4)
            return r.center();
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    return {};
}

QRect openTrayMenu(const XServer &x, qint64 pid)
{
    const QPoint icon = trayIconCentre(x);
    if (icon.isNull())
        return {};
    x.xdotool({ QStringLiteral("mousemove"), QString::number(icon.x()), QString::number(icon.y()) });
    x.xdotool({ QStringLiteral("click"), QStringLiteral("3") });

    // The menu is the program's tall window that is not the main window.
    QDeadlineTimer deadline(10000);
    do {
        const QStringList windows = x.xdotool({ QStringLiteral("search"),
            QStringLiteral("--onlyvisible"), QStringLiteral("--pid"), QString::number(pid) })
                                        .split(u'\n', Qt::SkipEmptyParts);
        for (const QString &window : windows) {
            const QRect r = windowGeometry(x, window);
            if (r.height() >= 80
                && x.xdotool({ QStringLiteral("getwindowname"), window }) != QStringLiteral("Orvane"))
                return r;
        }
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    return {};
}

static QByteArray readProcFile(qint64 pid, const char *name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

template <typename Predicate>
static QList<qint64> processesWhere(Predicate matches)
{
    QList<qint64> pids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (numeric && pid != QCoreApplication::applicationPid() && matches(pid))
            pids << pid;
    }
    return pids;
}

QList<qint64> processesWithCommandLine(const QByteArray &needle)
{
    return processesWhere([&](qint64 pid) { return readProcFile(pid, "cmdline").contains(needle); });
}

QList<qint64> processesExposing(const QByteArray &secret)
{
    return processesWhere([&](qint64 pid) {
        return readProcFile(pid, "cmdline").contains(secret)
            || readProcFile(pid, "environ").contains(secret);
    });
}

bool pressKey(const XServer &x, const QString &windowId, const QString &key)
{
    int code = 0;
    x.xdotool({ QStringLiteral("windowfocus"), windowId }, &code);
    if (code != 0)
        return false;
    // Typed through XTEST into the focused window, as from a keyboard. (With --window
    // xdotool fails when the window closes under it, which is what a key here often does.)
    x.xdotool({ QStringLiteral("key"), key }, &code);
    return code == 0;
}

} // namespace tests
