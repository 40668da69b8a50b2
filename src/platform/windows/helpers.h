// The parts of the Windows side that are plain rules on texts and sizes, kept apart
// from the calls that need a running system so that they can be checked on their own.
// No Windows header here.
#pragma once

#include <functional>
#include <string>

namespace platform::win32 {

// The folder of a module path: everything before the last backslash. A path without
// any backslash keeps its first two characters (a bare drive such as "C:").
std::u16string folderOfModulePath(const std::u16string &modulePath);

// The updater's path in `folder`, and its check command line
// ("<folder>\wyUpdate.exe" /quickcheck /justcheck, the program quoted). Each must fit a
// 260-character buffer with its terminating zero; what does not fit gives empty text.
std::u16string updaterPath(const std::u16string &folder);
std::u16string updaterCheckCommandLine(const std::u16string &folder);

enum class NameLookup { Found, BufferTooSmall, Failed };

// Finds an account's name and domain with two buffers that grow until they are large
// enough: 100 bytes each at first, 200 bytes more after every "too small", given up
// at 2200 bytes. `attempt` receives both buffers zero-filled, sized in UTF-16
// characters (half the bytes), and fills them with zero-terminated names.
bool lookUpNamesWithGrowingBuffers(
    const std::function<NameLookup(std::u16string &name, std::u16string &domain)> &attempt,
    std::u16string &name, std::u16string &domain);

} // namespace platform::win32
