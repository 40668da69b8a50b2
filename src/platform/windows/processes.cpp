// Starting other programs through the Windows shell, without waiting for them: the
// remote-assistance tool and the Remote Desktop client.
#include "connect/clientcommand.h"
#include "platform/platform.h"
#include "platform/windows/win32.h"

#include <shellapi.h>

namespace platform {

namespace {

// The shell gets the tool's path and the client's path in buffers of this size.
constexpr std::size_t launchCapacity = 4096;
// The longest command line Windows passes to a process, its terminating zero included.
constexpr std::size_t maxCommandLine = 32767;

bool shellExecute(const wchar_t *file, const wchar_t *parameters)
{
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = 0; // no process handle wanted: nothing waits for the program
    info.lpFile = file;
    info.lpParameters = parameters;
    info.nShow = SW_SHOWNORMAL;
    return ShellExecuteExW(&info) != FALSE;
}

// The client's path under the system folder; empty when the expansion fails or does
// not fit the buffer (ExpandEnvironmentStringsW then reports the size it needs).
std::u16string clientPath()
{
    wchar_t buffer[launchCapacity] = {};
    const DWORD needed =
        ExpandEnvironmentStringsW(L"%systemroot%\\system32\\mstsc.exe", buffer, launchCapacity);
    if (needed == 0 || needed > launchCapacity)
        return {};
    return win32::fromWide(buffer);
}

} // namespace

bool startDetached(const std::u16string &program)
{
    wchar_t file[launchCapacity] = {};
    if (program.empty() || !win32::copyToBuffer(program, file))
        return false;
    return shellExecute(file, nullptr);
}

bool launchRemoteDesktopClient(const RemoteDesktopLaunch &launch)
{
    // The connection file carries the domain and the protected password: the client
    // gets neither on its command line.
    const std::u16string client = clientPath();
    if (client.empty())
        return false;
    const std::u16string parameters =
        clientcommand::windowsParameters(launch.connectionFile, launch.host, launch.port);
    // The client's whole command line (quoted path, blank, parameters) must stay within
    // what Windows accepts; refuse it here rather than let it be cut on the way.
    if (client.size() + 3 + parameters.size() + 1 > maxCommandLine)
        return false;
    return shellExecute(win32::wide(client), win32::wide(parameters));
}

} // namespace platform
