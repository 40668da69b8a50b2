// Start-up guards on Linux: the single-instance lock and the optional updater.
#include "platform/platform.h"

#include <cstdlib>

namespace platform {

bool isAnotherInstanceRunning() { return false; }
bool updatesAvailable() { return false; }
void launchUpdater() { std::exit(1); }

} // namespace platform
