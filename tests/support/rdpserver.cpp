#include "support/rdpserver.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace tests {

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

bool waitForLoopbackPort(quint16 port, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    do {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(500))
            return true;
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    return false;
}

bool RdpServer::start(const QString &domain, const QString &user, const QString &password,
                      const QColor &colour, quint16 port)
{
    m_colour = colour;
    m_port = port ? port : freeLoopbackPort();
    if (!m_dir.isValid() || m_port == 0 || !m_desktop.start())
        return false;

    // The SAM line "user:domain::NThash:::" comes from winpr-hash; the password goes to
    // it as an argument, which is fine for a throw-away test account.
    QProcess hash;
    hash.start(QStringLiteral("winpr-hash"),
               {QStringLiteral("-u"), user, QStringLiteral("-p"), password,
                QStringLiteral("-d"), domain, QStringLiteral("-f"), QStringLiteral("sam")});
    if (!hash.waitForFinished(10000) || hash.exitCode() != 0)
        return false;
    const QString samPath = m_dir.filePath(QStringLiteral("sam"));
    QFile sam(samPath);
    if (!sam.open(QIODevice::WriteOnly))
        return false;
    sam.write(hash.readAllStandardOutput());
    sam.close();

    // The shadow server does not send the root window's background: show a window of
    // the colour over the whole screen instead.
    const QString image = m_dir.filePath(QStringLiteral("colour.png"));
    QProcess convert;
    convert.start(QStringLiteral("convert"),
                  {QStringLiteral("-size"), QStringLiteral("1024x768"),
                   QStringLiteral("xc:") + colour.name(), image});
    if (!convert.waitForFinished(15000) || convert.exitCode() != 0)
        return false;
    if (!m_colourWindow.start(QStringLiteral("display"),
                              {QStringLiteral("-geometry"), QStringLiteral("1024x768+0+0"),
                               image},
                              m_desktop.environment()))
        return false;
    m_desktop.waitForWindow(QStringLiteral("colour"), 10000);

    if (!m_server.start(QStringLiteral("freerdp-shadow-cli"),
                        {QStringLiteral("/bind-address:127.0.0.1"),
                         QStringLiteral("/port:%1").arg(m_port), QStringLiteral("+auth"),
                         QStringLiteral("/sec:nla"), QStringLiteral("/sam-file:") + samPath},
                        m_desktop.environment()))
        return false;
    return waitForLoopbackPort(m_port);
}

} // namespace tests
