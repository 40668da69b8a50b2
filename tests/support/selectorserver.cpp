#include "support/selectorserver.h"

#include "support/xsession.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace tests {

namespace {

QString modeName(SelectorServer::Mode mode)
{
    switch (mode) {
    case SelectorServer::Mode::Hang:
        return QStringLiteral("hang");
    case SelectorServer::Mode::Endless:
        return QStringLiteral("endless");
    case SelectorServer::Mode::Normal:
        break;
    }
    return QStringLiteral("normal");
}

QJsonObject toJson(const SelectorServer::Answer &answer)
{
    return QJsonObject{
        {QStringLiteral("body"), QString::fromLatin1(answer.body.toBase64())},
        {QStringLiteral("status"), answer.status},
        {QStringLiteral("mode"), modeName(answer.mode)},
        {QStringLiteral("piece"), answer.pieceSize},
    };
}

QList<QJsonObject> readRequests(const QString &path)
{
    QList<QJsonObject> out;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return out;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (!line.isEmpty())
            out << QJsonDocument::fromJson(line).object();
    }
    return out;
}

} // namespace

QString testPkiFolder()
{
    return QStringLiteral(TESSARINO_TEST_PKI);
}

SelectorServer::SelectorServer() = default;

SelectorServer::~SelectorServer()
{
    stop();
}

bool SelectorServer::start(Certificate certificate, quint16 port)
{
    stop();
    m_error.clear();
    if (!m_control.isValid()) {
        m_error = QStringLiteral("no temporary folder for the control files");
        return false;
    }
    writeAnswers();

    QString name = QStringLiteral("server");
    if (certificate == Certificate::OtherHostName)
        name = QStringLiteral("otherhost");
    else if (certificate == Certificate::Untrusted)
        name = QStringLiteral("untrusted-server");
    const QString pki = testPkiFolder();
    const QString cert = pki + u'/' + name + QStringLiteral(".pem");
    const QString key = pki + u'/' + name + QStringLiteral("-key.pem");
    if (!QFile::exists(cert) || !QFile::exists(key)) {
        m_error = QStringLiteral("no test certificate %1: run the \"pki\" test first").arg(cert);
        return false;
    }

    m_process = std::make_unique<QProcess>();
    // The server's complaints (refused handshakes and the like) go to the test's log.
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->start(QStringLiteral(TESSARINO_PYTHON3),
                     {QStringLiteral(TESSARINO_SOURCE_DIR "/tests/support/selectorserver.py"),
                      QStringLiteral("--cert"), cert, QStringLiteral("--key"), key,
                      QStringLiteral("--control"), m_control.path(), QStringLiteral("--port"),
                      QString::number(port)});

    // The server prints "PORT <n>" once it listens.
    QByteArray output;
    const QDeadlineTimer deadline(15'000);
    while (!output.contains('\n') && !deadline.hasExpired()
           && m_process->state() != QProcess::NotRunning) {
        m_process->waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
        output += m_process->readAllStandardOutput();
    }
    const QByteArray line = output.left(output.indexOf('\n')).trimmed();
    bool ok = false;
    const uint listening = line.startsWith("PORT ") ? line.mid(5).toUInt(&ok) : 0;
    if (!ok || listening == 0 || listening > 65535) {
        m_error = QStringLiteral("the loopback selector did not start (%1)")
                      .arg(m_process->errorString());
        stop();
        return false;
    }
    m_port = static_cast<quint16>(listening);
    return true;
}

void SelectorServer::stop()
{
    if (m_process) {
        stopProcess(*m_process);
        m_process.reset();
    }
    m_port = 0;
}

QString SelectorServer::hostAndPort() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

SelectorEndpoint SelectorServer::endpoint() const
{
    return SelectorEndpoint{hostAndPort(), testPkiFolder() + QStringLiteral("/ca.pem")};
}

void SelectorServer::setDefaultAnswer(const Answer &answer)
{
    m_default = answer;
    writeAnswers();
}

void SelectorServer::setAnswer(const QString &login, const Answer &answer)
{
    for (auto &entry : m_perLogin) {
        if (entry.first == login) {
            entry.second = answer;
            writeAnswers();
            return;
        }
    }
    m_perLogin.append({login, answer});
    writeAnswers();
}

void SelectorServer::clearAnswers()
{
    m_default = Answer{};
    m_perLogin.clear();
    writeAnswers();
}

QStringList SelectorServer::logins() const
{
    QStringList out;
    for (const QJsonObject &request : readRequests(m_control.filePath(QStringLiteral("requests.log")))) {
        const QJsonValue login = request.value(QStringLiteral("login"));
        out << (login.isString() ? login.toString() : QString());
    }
    return out;
}

QStringList SelectorServer::rawQueries() const
{
    QStringList out;
    for (const QJsonObject &request : readRequests(m_control.filePath(QStringLiteral("requests.log"))))
        out << request.value(QStringLiteral("query")).toString();
    return out;
}

void SelectorServer::clearRequests()
{
    QFile::remove(m_control.filePath(QStringLiteral("requests.log")));
}

void SelectorServer::writeAnswers()
{
    QJsonObject logins;
    for (const auto &entry : m_perLogin)
        logins.insert(entry.first, toJson(entry.second));
    const QJsonObject all{{QStringLiteral("default"), toJson(m_default)},
                          {QStringLiteral("logins"), logins}};
    // Written whole and renamed into place: the server never reads half a file.
    QSaveFile file(m_control.filePath(QStringLiteral("answers.json")));
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(all).toJson(QJsonDocument::Compact));
        file.commit();
    }
}

} // namespace tests
