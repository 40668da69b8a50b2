// A real HTTP CONNECT proxy on loopback for tests: tinyproxy, run as a child with
// its own configuration in a temporary folder, optionally asking for credentials.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace tests {

class TinyProxy
{
public:
    TinyProxy();
    ~TinyProxy();
    TinyProxy(const TinyProxy &) = delete;
    TinyProxy &operator=(const TinyProxy &) = delete;

    // Starts tinyproxy on a free port of 127.0.0.1 and waits until it accepts
    // connections. With a user, it asks for Basic credentials (tinyproxy takes only
    // letters, digits, "-", "." and "_" in them).
    bool start(const QString &user = {}, const QString &password = {});
    void stop();
    QString errorString() const { return m_error; }
    quint16 port() const { return m_port; }

    // The CONNECT targets ("127.0.0.1:443") the proxy was asked for, in order.
    QStringList connectTargets() const;

private:
    bool startOnce(const QString &user, const QString &password);

    QTemporaryDir m_folder;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QString m_error;
};

} // namespace tests
