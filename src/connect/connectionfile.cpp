#include "connect/connectionfile.h"

#include "connect/clientcommand.h"
#include "connect/connectlog.h"
#include "platform/platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringEncoder>


namespace {

QString withoutControlCharacters(const QString &text)
{
    return QString::fromStdU16String(
        clientcommand::withoutControlCharacters(text.toStdU16String()));
}

// Overwrites a copy of the password before its memory goes back to the allocator.
void wipe(std::u16string &text)
{
    volatile char16_t *p = text.data();
    for (std::size_t i = 0; i < text.size(); ++i)
        p[i] = u'\0';
    text.clear();
}

} // namespace

QString connectionFilePath(const QString &profileFolder)
{
    return QDir::toNativeSeparators(profileFolder + QDir::separator()
                                    + QStringLiteral("my.rdp"));
}

bool discardConnectionFile(const QString &path)
{
    // A dangling symbolic link counts as a file: it is removed, not followed later.
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    QFile file(path);
    if (file.remove())
        return true;
    qCWarning(lcConnect) << "cannot delete the old connection file" << path << ":"
                         << file.errorString();
    return false;
}

QString connectionFileContent(const QString &rdpTemplate, const QString &domain,
                              const QString &userName, const QString &protectedPassword)
{
    const QString crlf = QStringLiteral("\r\n");
    return rdpTemplate + QStringLiteral("domain:s:") + withoutControlCharacters(domain) + crlf
           + QStringLiteral("username:s:") + withoutControlCharacters(userName) + crlf
           + QStringLiteral("password 51:b:") + protectedPassword + crlf;
}

bool writeConnectionFile(const QString &path, const QString &rdpTemplate, const QString &domain,
                         const QString &userName, const QString &protectedPassword)
{
    // The client is started right after this returns: it must find either the whole
    // new file or none, never a half-written one.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(lcConnect) << "cannot create the connection file" << path << ":"
                             << file.errorString();
        return false;
    }
    // The file holds the user's credentials: private to the user before anything is
    // written into it.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        qCWarning(lcConnect) << "cannot make the connection file private" << path;
        file.cancelWriting();
        return false;
    }
    // The system's 8-bit code page, as the client reads it; no byte-order mark, and the
    // template's own line breaks go out as they are.
    QStringEncoder encoder(QStringConverter::System);
    const QByteArray bytes =
        encoder.encode(connectionFileContent(rdpTemplate, domain, userName, protectedPassword));
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        qCWarning(lcConnect) << "cannot write the connection file" << path << ":"
                             << file.errorString();
        return false;
    }
    return true;
}

bool launchRemoteDesktopClient(const QString &path, const QString &host, const QString &port,
                               const QString &domain, const QString &password)
{
    platform::RemoteDesktopLaunch launch{path.toStdU16String(), host.toStdU16String(),
                                         port.toStdU16String(), domain.toStdU16String(),
                                         password.toStdU16String()};
    const bool started = platform::launchRemoteDesktopClient(launch);
    wipe(launch.password);
    if (!started)
        qCWarning(lcConnect) << "cannot start the Remote Desktop client for" << host;
    return started;
}
