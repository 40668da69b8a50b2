#include "support/xsession.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>

#include <csignal>

namespace tests {

ChildProcess::~ChildProcess()
{
    stop();
}

bool ChildProcess::start(const QString &program, const QStringList &arguments,
                         const QProcessEnvironment &environment)
{
    m_process = std::make_unique<QProcess>();
    m_process->setProcessEnvironment(environment);
    m_process->start(program, arguments);
    return m_process->waitForStarted(10000);
}

void stopProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

void ChildProcess::stop()
{
    if (m_process)
        stopProcess(*m_process);
}

bool ChildProcess::isRunning() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

qint64 ChildProcess::pid() const
{
    return m_process ? m_process->processId() : 0;
}

bool XServer::start(int width, int height)
{
    const QString screen = QStringLiteral("%1x%2x24").arg(width).arg(height);
    if (!m_server.start(QStringLiteral("Xvfb"),
                        {QStringLiteral("-displayfd"), QStringLiteral("1"),
                         QStringLiteral("-screen"), QStringLiteral("0"), screen,
                         QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                         // Without it the server resets whenever its last client
                         // leaves, and refuses the next one for a moment.
                         QStringLiteral("-noreset")}))
        return false;
    QProcess &p = m_server.process();
    QDeadlineTimer deadline(15000);
    while (!p.canReadLine() && !deadline.hasExpired() && p.state() == QProcess::Running)
        p.waitForReadyRead(100);
    const QByteArray line = p.readLine().trimmed();
    if (line.isEmpty())
        return false;
    m_display = QLatin1Char(':') + QString::fromLatin1(line);
    return true;
}

QProcessEnvironment XServer::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return env;
}

QString XServer::xdotool(const QStringList &arguments, int *exitCode) const
{
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start(QStringLiteral("xdotool"), arguments);
    p.waitForFinished(15000);
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

QString XServer::waitForWindow(const QString &name, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    do {
        const QString ids = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                     QStringLiteral("--name"), name});
        if (!ids.isEmpty())
            return ids.split(u'\n').constLast();
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    return {};
}

bool XServer::screenshot(const QString &pngPath) const
{
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start(QStringLiteral("import"),
            {QStringLiteral("-window"), QStringLiteral("root"), pngPath});
    return p.waitForFinished(15000) && p.exitCode() == 0;
}

bool TrayHost::start(const XServer &x)
{
    if (!m_trayer.start(QStringLiteral("trayer"),
                        {QStringLiteral("--edge"), QStringLiteral("bottom"),
                         QStringLiteral("--align"), QStringLiteral("right"),
                         QStringLiteral("--widthtype"), QStringLiteral("request"),
                         QStringLiteral("--height"), QStringLiteral("32"),
                         QStringLiteral("--transparent"), QStringLiteral("false"),
                         QStringLiteral("--tint"), QStringLiteral("0x303030")},
                        x.environment()))
        return false;
    // trayer owns the system tray selection once its panel window exists.
    return !x.waitForWindow(QStringLiteral("^panel$"), 10000).isEmpty() || m_trayer.isRunning();
}

} // namespace tests
