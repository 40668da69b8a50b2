// Password protection on Linux.
#include "platform/platform.h"

namespace platform {

bool protectData(const std::vector<std::uint8_t> &, std::vector<std::uint8_t> &, std::uint32_t &error)
{
    error = 0;
    return false;
}
bool unprotectData(const std::vector<std::uint8_t> &, std::vector<std::uint8_t> &) { return false; }
std::u16string systemErrorText(std::uint32_t) { return {}; }

} // namespace platform
