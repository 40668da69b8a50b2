// Data protection for the current Windows user, and the system's texts for error codes.
#include "platform/platform.h"
#include "platform/windows/win32.h"

#include <wincrypt.h>

#include <limits>

namespace platform {

namespace {

DATA_BLOB blobOf(const std::vector<std::uint8_t> &bytes)
{
    DATA_BLOB blob = {};
    blob.cbData = static_cast<DWORD>(bytes.size());
    // The API takes a non-const pointer for its input but does not write through it.
    blob.pbData = const_cast<BYTE *>(bytes.data());
    return blob;
}

std::vector<std::uint8_t> takeOutput(const DATA_BLOB &output)
{
    const win32::LocalBuffer<BYTE> owner(output.pbData);
    return std::vector<std::uint8_t>(output.pbData, output.pbData + output.cbData);
}

} // namespace

bool protectData(const std::vector<std::uint8_t> &plain, std::vector<std::uint8_t> &blob,
                 std::uint32_t &error)
{
    if (plain.size() > std::numeric_limits<DWORD>::max()) {
        error = ERROR_INVALID_PARAMETER;
        return false;
    }
    DATA_BLOB input = blobOf(plain);
    DATA_BLOB output = {};
    if (!CryptProtectData(&input, nullptr, nullptr, nullptr, nullptr, 0, &output)) {
        error = GetLastError();
        return false;
    }
    blob = takeOutput(output);
    return true;
}

bool unprotectData(const std::vector<std::uint8_t> &blob, std::vector<std::uint8_t> &plain)
{
    if (blob.empty() || blob.size() > std::numeric_limits<DWORD>::max())
        return false;
    DATA_BLOB input = blobOf(blob);
    DATA_BLOB output = {};
    if (!CryptUnprotectData(&input, nullptr, nullptr, nullptr, nullptr, 0, &output))
        return false;
    plain = takeOutput(output);
    return true;
}

std::u16string systemErrorText(std::uint32_t code)
{
    wchar_t *text = nullptr;
    // With FORMAT_MESSAGE_ALLOCATE_BUFFER the system allocates the text and writes its
    // address into the "buffer" argument, which is why a pointer to the pointer goes in.
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text),
        0, nullptr);
    const win32::LocalBuffer<wchar_t> owner(text);
    if (length == 0 || text == nullptr)
        return {};
    return win32::fromWide(text, length);
}

} // namespace platform
