// The selector web service client: asks over HTTPS which terminal server a login
// must use and returns its host and port.
#pragma once

#include <QString>

#include <cstddef>

class UserEnvironment;

struct TerminalServerAddress
{
    QString host; // null when no server was found
    QString port;
};

// Where the selector is reached: a host (optionally host:port) and the CA bundle
// that verifies it (empty: the system store).
struct SelectorEndpoint
{
    QString host;
    QString caBundle;
};

// Asks the selector built into the program (BuildConfig).
TerminalServerAddress selectTerminalServer(const UserEnvironment *environment, QString login);

// Asks the selector at `endpoint`; the program's own selector is one such endpoint.
TerminalServerAddress selectTerminalServer(const SelectorEndpoint &endpoint,
                                           const UserEnvironment *environment, QString login);

// libcurl's write callback: collects the answer's body.
std::size_t appendResponse(char *data, std::size_t size, std::size_t count, void *userData);
