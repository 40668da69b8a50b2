// Whether another copy of the program runs: a walk over the system's process list.
#include "platform/platform.h"
#include "platform/windows/win32.h"

#include <tlhelp32.h>

#include <cwchar>

namespace platform {

bool isAnotherInstanceRunning()
{
    // The fixed name, not the one this copy was started under; compared exactly, so
    // "tessarino.exe" is another program.
    static constexpr wchar_t programName[] = L"Tessarino.exe";

    const DWORD ownId = GetCurrentProcessId();
    const win32::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.get() == INVALID_HANDLE_VALUE)
        return false;

    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID != ownId && std::wcscmp(entry.szExeFile, programName) == 0)
            return true;
    }
    return false;
}

} // namespace platform
