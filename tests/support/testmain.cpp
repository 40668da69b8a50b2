#include "support/testmain.h"

#include <QDir>

#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace tests {

namespace {

std::string g_root;

void removeRoot()
{
    if (!g_root.empty())
        QDir(QString::fromLocal8Bit(g_root)).removeRecursively();
}

void makePrivateDir(const std::string &path)
{
    mkdir(path.c_str(), 0700);
}

} // namespace

QString isolateHome()
{
    std::string pattern = "/tmp/tessarino-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        std::abort();
    g_root = pattern;
    const struct
    {
        const char *variable;
        const char *folder;
    } layout[] = {
        {"HOME", "home"},
        {"XDG_DATA_HOME", "home/.local/share"},
        {"XDG_CONFIG_HOME", "home/.config"},
        {"XDG_CACHE_HOME", "home/.cache"},
        {"XDG_STATE_HOME", "home/.local/state"},
        {"XDG_RUNTIME_DIR", "runtime"},
    };
    makePrivateDir(g_root + "/home");
    makePrivateDir(g_root + "/home/.local");
    for (const auto &entry : layout) {
        const std::string path = g_root + "/" + entry.folder;
        makePrivateDir(path);
        setenv(entry.variable, path.c_str(), 1);
    }
    for (const char *name : {"http_proxy", "https_proxy", "all_proxy", "no_proxy", "HTTP_PROXY",
                             "HTTPS_PROXY", "ALL_PROXY", "NO_PROXY"})
        unsetenv(name);
    std::atexit(removeRoot);
    return QString::fromLocal8Bit(g_root);
}

} // namespace tests
