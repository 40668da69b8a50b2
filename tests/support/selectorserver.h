// A loopback selector web service for tests: a child HTTPS server on 127.0.0.1
// (selectorserver.py) whose answers the test chooses and whose requests it reads.
#pragma once

#include "lookup/selectorclient.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace tests {

// The folder where the "pki" test fixture puts the CA and server certificates.
QString testPkiFolder();

class SelectorServer
{
public:
    // Which certificate the server shows.
    enum class Certificate {
        Trusted,       // 127.0.0.1 and localhost, signed by the CA the tests trust
        OtherHostName, // another host name, signed by the same CA
        Untrusted,     // 127.0.0.1 and localhost, signed by a CA nobody trusts
    };

    enum class Mode {
        Normal,  // send the body
        Hang,    // read the request, never answer
        Endless, // send the body, then a chunked stream of "x" that never ends
    };

    struct Answer
    {
        QByteArray body;
        int status = 200;
        Mode mode = Mode::Normal;
        int pieceSize = 0; // > 0: the body goes out in pieces of this many bytes
    };

    SelectorServer();
    ~SelectorServer();
    SelectorServer(const SelectorServer &) = delete;
    SelectorServer &operator=(const SelectorServer &) = delete;

    // Starts the server on `port` (0: a free port chosen by the system) and waits
    // until it listens. False, with errorString(), when it could not start.
    bool start(Certificate certificate = Certificate::Trusted, quint16 port = 0);
    void stop();
    QString errorString() const { return m_error; }

    quint16 port() const { return m_port; }
    // "127.0.0.1:<port>"
    QString hostAndPort() const;
    // This server as the client's endpoint, verified with the tests' CA.
    SelectorEndpoint endpoint() const;

    // The answer for logins without an answer of their own (at first: an empty
    // body with status 200).
    void setDefaultAnswer(const Answer &answer);
    void setAnswer(const QString &login, const Answer &answer);
    // Shorthand: a body sent with status 200.
    void setDefaultAnswer(const QByteArray &body) { setDefaultAnswer(Answer{body}); }
    void clearAnswers();

    // What arrived, in order: the decoded "login" values (a null text for a request
    // without one) and the raw query texts.
    QStringList logins() const;
    QStringList rawQueries() const;
    void clearRequests();

private:
    void writeAnswers();

    QTemporaryDir m_control;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QString m_error;
    Answer m_default;
    QList<QPair<QString, Answer>> m_perLogin;
};

} // namespace tests
