// Starting other programs on Linux, detached.
#include "platform/platform.h"

namespace platform {

bool startDetached(const std::u16string &) { return false; }

} // namespace platform
