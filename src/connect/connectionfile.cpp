#include "connect/connectionfile.h"

QString connectionFilePath(const QString &) { return {}; }
bool discardConnectionFile(const QString &) { return true; }
QString connectionFileContent(const QString &, const QString &, const QString &, const QString &)
{
    return {};
}
bool writeConnectionFile(const QString &, const QString &, const QString &, const QString &,
                         const QString &)
{
    return false;
}
bool launchRemoteDesktopClient(const QString &, const QString &, const QString &, const QString &,
                               const QString &)
{
    return false;
}
