// A second process for the tests, linked with the Windows side of the seam. Copies of
// it under other names ("Tessarino.exe", "tessarino.exe") stand in for other copies
// of the program. Modes:
//   sleep            signals the event "tessarino-probe-ready", then stays alive (at
//                    most two minutes) until the test ends it
//   instance         exits 11 when another copy runs, 10 when not
//   launch-updater   hands over to the updater (the process ends with 1)
#include "platform/platform.h"

#include "platform/windows/win32.h"

#include <cstring>

int main(int argc, char **argv)
{
    const char *mode = argc > 1 ? argv[1] : "";
    if (std::strcmp(mode, "sleep") == 0) {
        if (HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"tessarino-probe-ready")) {
            SetEvent(ready);
            CloseHandle(ready);
        }
        Sleep(120000);
        return 0;
    }
    if (std::strcmp(mode, "instance") == 0)
        return platform::isAnotherInstanceRunning() ? 11 : 10;
    if (std::strcmp(mode, "launch-updater") == 0)
        platform::launchUpdater();
    return 2;
}
