#include "support/tinyproxy.h"

#include "support/xsession.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace tests {

namespace {

// A port that was free a moment ago. tinyproxy cannot report a port chosen by the
// system, so one is picked here; start() tries again if another process took it.
quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

bool accepts(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}

} // namespace

TinyProxy::TinyProxy() = default;

TinyProxy::~TinyProxy()
{
    stop();
}

bool TinyProxy::start(const QString &user, const QString &password)
{
    stop();
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (startOnce(user, password))
            return true;
    }
    return false;
}

bool TinyProxy::startOnce(const QString &user, const QString &password)
{
    m_error.clear();
    const quint16 port = freePort();
    if (!m_folder.isValid() || port == 0) {
        m_error = QStringLiteral("no temporary folder or free port for tinyproxy");
        return false;
    }
    // No ConnectPort line: CONNECT is allowed to every port, the selector's included.
    QString config = QStringLiteral("Port %1\n"
                                    "Listen 127.0.0.1\n"
                                    "Timeout 30\n"
                                    "MaxClients 20\n"
                                    "Allow 127.0.0.1\n"
                                    "LogLevel Connect\n"
                                    "LogFile \"%2\"\n")
                         .arg(port)
                         .arg(m_folder.filePath(QStringLiteral("tinyproxy.log")));
    if (!user.isEmpty())
        config += QStringLiteral("BasicAuth %1 %2\n").arg(user, password);
    const QString configPath = m_folder.filePath(QStringLiteral("tinyproxy.conf"));
    QFile file(configPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = file.errorString();
        return false;
    }
    file.write(config.toUtf8());
    file.close();

    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::ForwardedChannels);
    m_process->start(QStringLiteral(TESSARINO_TINYPROXY),
                     {QStringLiteral("-d"), QStringLiteral("-c"), configPath});
    const QDeadlineTimer deadline(10'000);
    while (!deadline.hasExpired()) {
        if (m_process->state() == QProcess::NotRunning)
            break;
        if (accepts(port)) {
            m_port = port;
            return true;
        }
        QThread::msleep(50);
    }
    m_error = QStringLiteral("tinyproxy did not start on port %1 (%2)")
                  .arg(port)
                  .arg(m_process->errorString());
    stop();
    return false;
}

void TinyProxy::stop()
{
    if (m_process) {
        stopProcess(*m_process);
        m_process.reset();
    }
    m_port = 0;
}

QStringList TinyProxy::connectTargets() const
{
    QStringList out;
    QFile log(m_folder.filePath(QStringLiteral("tinyproxy.log")));
    if (!log.open(QIODevice::ReadOnly))
        return out;
    static const QRegularExpression request(QStringLiteral(R"(Request .*: CONNECT (\S+) HTTP)"));
    for (const QByteArray &line : log.readAll().split('\n')) {
        const QRegularExpressionMatch match = request.match(QString::fromUtf8(line));
        if (match.hasMatch())
            out << match.captured(1);
    }
    return out;
}

} // namespace tests
