// The Remote Desktop connection file "my.rdp" in the profile folder, and the start
// of the Remote Desktop client on it.
#pragma once

#include <QString>

// profile folder + separator + "my.rdp", with native separators.
QString connectionFilePath(const QString &profileFolder);

// Deletes the previous connection file. False only when one exists and cannot be
// deleted.
bool discardConnectionFile(const QString &path);

// The file's text: the template unchanged, then the domain, user-name and password
// lines, each ending with CR LF. Control characters are dropped from domain and user
// name so that no value can add a line.
QString connectionFileContent(const QString &rdpTemplate, const QString &domain,
                              const QString &userName, const QString &protectedPassword);

// Writes the file (8-bit system code page, no BOM, private to the user). False when it
// could not be written completely.
bool writeConnectionFile(const QString &path, const QString &rdpTemplate, const QString &domain,
                         const QString &userName, const QString &protectedPassword);

// Starts the Remote Desktop client on the file, full screen, against host:port. The
// domain and plain password are for clients that take them apart from the file.
// False when the client could not be started.
bool launchRemoteDesktopClient(const QString &path, const QString &host, const QString &port,
                               const QString &domain, const QString &password);
