// The selector web service client: asks over HTTPS which terminal server a login
// must use and returns its host and port.
#pragma once

#include <QString>

#include <chrono>
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
    // Bounds of one query. The program always uses these values; only tests
    // shorten them, so that a silent server does not hold a test for a minute.
    std::chrono::milliseconds connectTimeout{15'000};
    std::chrono::milliseconds requestTimeout{60'000};
};

// Asks the selector built into the program (BuildConfig).
TerminalServerAddress selectTerminalServer(const UserEnvironment *environment, QString login);

// Asks the selector at `endpoint`; the program's own selector is one such endpoint.
TerminalServerAddress selectTerminalServer(const SelectorEndpoint &endpoint,
                                           const UserEnvironment *environment, QString login);

// libcurl's write callback: collects the answer's body, up to maxResponseSize bytes.
std::size_t appendResponse(char *data, std::size_t size, std::size_t count, void *userData);

// A larger answer is refused like an unreadable one.
inline constexpr std::size_t maxResponseSize = 1024 * 1024;

// The answer's host and port end up on the Remote Desktop client's command line,
// so only these shapes are accepted. Host: a DNS name (letters, digits, "-", ".";
// labels of 1..63 characters not starting or ending with "-", at most 253 in all)
// or an IPv4/IPv6 literal. Port: empty, or decimal 1..65535.
bool isValidServerHost(const QString &host);
bool isValidServerPort(const QString &port);

// The proxy as libcurl is given it: "http://host:port", or "socks5h://host:port" for
// a SOCKS5 proxy (the proxy resolves the selector's name); an IPv6 host is bracketed.
QString proxyUrlFor(const UserEnvironment &environment);
