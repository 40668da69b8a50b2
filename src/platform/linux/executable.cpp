#include "platform/linux/text.h"
#include "platform/platform.h"

#include <unistd.h>

#include <climits>

namespace platform {

std::u16string executableFileName(const std::u16string &baseName)
{
    return baseName;
}

std::u16string executableFolder()
{
    std::string path(PATH_MAX, '\0');
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= path.size())
        return {};
    path.resize(static_cast<std::size_t>(n));
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return fromLocal8Bit(path.substr(0, slash == 0 ? 1 : slash));
}

} // namespace platform
