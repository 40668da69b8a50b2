// The updater next to the program: a check that waits for its verdict, and the
// interactive start that hands the machine over to it.
#include "platform/platform.h"
#include "platform/windows/helpers.h"
#include "platform/windows/win32.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {

constexpr wchar_t updaterName[] = L"wyUpdate.exe";
constexpr wchar_t checkTail[] = L"wyUpdate.exe\" /quickcheck /justcheck";

// `head` followed by `tail` as a path component, in a buffer of the updater's size.
// The length is checked first: PathAppendW would empty the buffer rather than
// overrun it, but an empty result is easier to read as "does not fit".
std::u16string appendComponent(const std::u16string &head, const wchar_t *tail)
{
    wchar_t buffer[win32::pathCapacity] = {};
    const std::size_t tailLength = std::char_traits<wchar_t>::length(tail);
    if (head.size() + 1 + tailLength + 1 > win32::pathCapacity || !win32::copyToBuffer(head, buffer))
        return {};
    if (!PathAppendW(buffer, tail))
        return {};
    return win32::fromWide(buffer);
}

void warnCheckFailed()
{
    std::fputs("Fallita la verifica degli aggiornamenti.\n", stderr);
    std::fflush(stderr);
}

} // namespace

namespace win32 {

std::u16string updaterPath(const std::u16string &folder)
{
    if (folder.empty())
        return {};
    return appendComponent(folder, updaterName);
}

std::u16string updaterCheckCommandLine(const std::u16string &folder)
{
    if (folder.empty())
        return {};
    return appendComponent(u"\"" + folder, checkTail);
}

} // namespace win32

bool updatesAvailable()
{
    const std::u16string commandLine = win32::updaterCheckCommandLine(executableFolder());
    wchar_t buffer[win32::pathCapacity] = {};
    // CreateProcessW may write into the command line, so it gets a buffer of its own.
    if (commandLine.empty() || !win32::copyToBuffer(commandLine, buffer)) {
        warnCheckFailed();
        return false;
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, buffer, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) {
        warnCheckFailed();
        return false;
    }
    const win32::UniqueHandle process(info.hProcess);
    const win32::UniqueHandle thread(info.hThread);

    WaitForSingleObject(process.get(), INFINITE);
    // An exit code that cannot be read stays 0: no updates.
    DWORD exitCode = 0;
    GetExitCodeProcess(process.get(), &exitCode);
    return exitCode == 2;
}

void launchUpdater()
{
    const std::u16string path = win32::updaterPath(executableFolder());
    // The program ends whether or not the updater starts: the user chose to update.
    if (!path.empty())
        ShellExecuteW(nullptr, nullptr, win32::wide(path), nullptr, nullptr, SW_SHOWNORMAL);
    std::exit(1);
}

} // namespace platform
