// The account of a Linux process: the effective user's name, and the short host
// name standing in for the Windows domain.
#include "platform/platform.h"
#include "platform/linux/text.h"

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <vector>

namespace platform {

bool lookUpAccount(Account &account)
{
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd *found = nullptr;
    int rc;
    while ((rc = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE
           && buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (rc != 0 || found == nullptr || found->pw_name == nullptr)
        return false;

    char host[HOST_NAME_MAX + 1] = {};
    if (gethostname(host, sizeof host - 1) != 0)
        return false;
    std::string shortHost(host);
    shortHost = shortHost.substr(0, shortHost.find('.'));

    account.name = fromLocal8Bit(found->pw_name);
    account.domain = fromLocal8Bit(shortHost);
    return true;
}

} // namespace platform
