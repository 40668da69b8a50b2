// The running executable on Windows: its folder and the file names of programs.
#include "platform/platform.h"
#include "platform/windows/helpers.h"
#include "platform/windows/win32.h"

namespace platform {

namespace win32 {

std::u16string folderOfModulePath(const std::u16string &modulePath)
{
    const auto backslash = modulePath.rfind(u'\\');
    if (backslash != std::u16string::npos)
        return modulePath.substr(0, backslash);
    return modulePath.substr(0, 2);
}

} // namespace win32

std::u16string executableFileName(const std::u16string &baseName)
{
    return baseName + u".exe";
}

std::u16string executableFolder()
{
    wchar_t path[win32::pathCapacity] = {};
    // A path that fills the buffer has been cut short by the system: refuse it rather
    // than hand out the folder of a truncated path.
    const DWORD length = GetModuleFileNameW(nullptr, path, win32::pathCapacity);
    if (length == 0 || length >= win32::pathCapacity)
        return {};
    return win32::folderOfModulePath(win32::fromWide(path, length));
}

} // namespace platform
