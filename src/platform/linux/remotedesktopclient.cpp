// The Remote Desktop client on Linux.
#include "platform/platform.h"

namespace platform {

bool launchRemoteDesktopClient(const RemoteDesktopLaunch &) { return false; }

} // namespace platform
