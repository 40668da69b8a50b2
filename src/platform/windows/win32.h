// The Win32 headers and the few helpers the Windows side of the seam shares: owners
// that release handles and system buffers on every path, and the text conversions
// between the seam's UTF-16 strings and the wide-character buffers of the API.
// Only files of this folder include it.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>

namespace platform::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16");

// MAX_PATH, the terminating zero included.
inline constexpr std::size_t pathCapacity = MAX_PATH;

struct HandleCloser
{
    void operator()(HANDLE handle) const
    {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

// For buffers the system allocates and hands over (CryptProtectData, FormatMessageW).
struct LocalFreer
{
    void operator()(void *memory) const { LocalFree(memory); }
};
template<typename T>
using LocalBuffer = std::unique_ptr<T, LocalFreer>;

inline const wchar_t *wide(const std::u16string &text)
{
    return reinterpret_cast<const wchar_t *>(text.c_str());
}

inline std::u16string fromWide(const wchar_t *text, std::size_t length)
{
    return std::u16string(reinterpret_cast<const char16_t *>(text), length);
}

inline std::u16string fromWide(const wchar_t *text)
{
    return text == nullptr ? std::u16string() : fromWide(text, std::char_traits<wchar_t>::length(text));
}

// Copies `text` with its terminating zero into a fixed buffer of `Capacity` characters;
// false, and the buffer left untouched, when it does not fit.
template<std::size_t Capacity>
bool copyToBuffer(const std::u16string &text, wchar_t (&buffer)[Capacity])
{
    if (text.size() + 1 > Capacity)
        return false;
    text.copy(reinterpret_cast<char16_t *>(buffer), text.size());
    buffer[text.size()] = L'\0';
    return true;
}

} // namespace platform::win32
