// The current OS user's environment: account, per-user working folder and the
// system proxy that applies to the selector web service. Filled once by load().
#pragma once

#include <QList>
#include <QNetworkProxy>
#include <QString>

#include <optional>

class UserEnvironment
{
public:
    QString accountName = QStringLiteral("");
    QString domainName = QStringLiteral("");
    QString profileFolder;
    QString proxyHost;
    int proxyPort = 0;
    QString proxyUser;
    QString proxyPassword;
    // Kept so that the selector can speak SOCKS5 to a SOCKS5 proxy.
    QNetworkProxy::ProxyType proxyType = QNetworkProxy::NoProxy;

    // Finds the account, creates the profile folder and reads the system proxy.
    // Shows its own message and returns false when the account or the folder fails.
    bool load();

    bool hasProxy() const;
};

// Everything white in a name removed: the form used as a folder name.
QString compactName(const QString &name);

// The first usable proxy of the system's list for the selector URL: HTTP, default,
// SOCKS5 or HTTP caching; "no proxy" and FTP caching entries are passed over.
std::optional<QNetworkProxy> chooseProxy(const QList<QNetworkProxy> &proxies);

// The per-user folder: data location / Tessarino / domain / account (compacted),
// with native separators.
QString profileFolderFor(const QString &dataLocation, const QString &domain,
                         const QString &account);
