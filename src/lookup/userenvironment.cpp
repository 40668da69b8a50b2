#include "lookup/userenvironment.h"

#include "app/buildconfig.h"
#include "lookup/lookuplog.h"
#include "platform/platform.h"

#include <QDir>
#include <QMessageBox>
#include <QNetworkProxyFactory>
#include <QNetworkProxyQuery>
#include <QStandardPaths>
#include <QUrl>

namespace {

QString fromU16(const std::u16string &s)
{
    return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

void showCritical(const QString &text)
{
    QMessageBox::critical(nullptr, QStringLiteral("Attenzione"), text, QMessageBox::Ok,
                          QMessageBox::NoButton);
}

// Creates the folder and its missing parents; the ones made here are private to the
// user (0700), since they hold the credential store.
bool createPrivateFolder(const QString &path)
{
    if (QDir(path).exists())
        return true;
    const QString parent = QFileInfo(path).absolutePath();
    if (parent == path || !createPrivateFolder(parent))
        return false;
    const QFile::Permissions privateToUser =
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    return QDir().mkdir(path, privateToUser) || QDir(path).exists();
}

} // namespace

QString compactName(const QString &name)
{
    return name.simplified().remove(u' ').trimmed();
}

std::optional<QNetworkProxy> chooseProxy(const QList<QNetworkProxy> &proxies)
{
    for (const QNetworkProxy &proxy : proxies) {
        switch (proxy.type()) {
        case QNetworkProxy::HttpProxy:
        case QNetworkProxy::DefaultProxy:
        case QNetworkProxy::Socks5Proxy:
        case QNetworkProxy::HttpCachingProxy:
            return proxy;
        default:
            break;
        }
    }
    return std::nullopt;
}

QString profileFolderFor(const QString &dataLocation, const QString &domain,
                         const QString &account)
{
    const QChar sep = QDir::separator();
    return QDir::toNativeSeparators(dataLocation + sep + QStringLiteral("Tessarino") + sep
                                    + compactName(domain) + sep + compactName(account));
}

bool UserEnvironment::load()
{
    platform::Account account;
    if (!platform::lookUpAccount(account)) {
        showCritical(QStringLiteral("Impossibile leggere i dati dell'utente!"));
        return false;
    }
    accountName = fromU16(account.name);
    domainName = fromU16(account.domain);

    profileFolder = profileFolderFor(
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation), domainName,
        accountName);
    if (!createPrivateFolder(QDir::fromNativeSeparators(profileFolder))) {
        qCWarning(lcLookup) << "cannot create the profile folder" << profileFolder;
        showCritical(QStringLiteral("Impossibile creare la directory del profilo utente"));
        return false;
    }

    const QUrl selectorUrl(QStringLiteral("https://") + BuildConfig::selectorHost()
                           + QStringLiteral("/outsourcing/selector"));
    const QNetworkProxyQuery query(selectorUrl, QNetworkProxyQuery::UrlRequest);
    if (const auto proxy = chooseProxy(QNetworkProxyFactory::systemProxyForQuery(query))) {
        proxyHost = proxy->hostName();
        proxyPort = proxy->port();
        proxyUser = proxy->user();
        proxyPassword = proxy->password();
        proxyType = proxy->type();
    }
    return true;
}

bool UserEnvironment::hasProxy() const
{
    return proxyPort >= 1 && !proxyHost.trimmed().isEmpty();
}
