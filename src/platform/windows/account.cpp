// The Windows account behind the current thread's (or the process's) access token.
#include "platform/platform.h"
#include "platform/windows/helpers.h"
#include "platform/windows/win32.h"

#include <memory>

namespace platform {

namespace win32 {

bool lookUpNamesWithGrowingBuffers(
    const std::function<NameLookup(std::u16string &name, std::u16string &domain)> &attempt,
    std::u16string &name, std::u16string &domain)
{
    for (std::size_t bytes = 100; bytes < 2200; bytes += 200) {
        std::u16string nameBuffer(bytes / 2, u'\0');
        std::u16string domainBuffer(bytes / 2, u'\0');
        switch (attempt(nameBuffer, domainBuffer)) {
        case NameLookup::Found:
            // The texts end at their terminating zeros, which the buffers also hold.
            name = nameBuffer.substr(0, nameBuffer.find(u'\0'));
            domain = domainBuffer.substr(0, domainBuffer.find(u'\0'));
            return true;
        case NameLookup::BufferTooSmall:
            break;
        case NameLookup::Failed:
            return false;
        }
    }
    return false;
}

} // namespace win32

namespace {

struct HeapFreer
{
    void operator()(void *memory) const { HeapFree(GetProcessHeap(), 0, memory); }
};

win32::UniqueHandle openToken()
{
    HANDLE token = nullptr;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token))
        return win32::UniqueHandle(token);
    // A thread that impersonates nobody has no token of its own: the process's applies.
    if (GetLastError() != ERROR_NO_TOKEN)
        return {};
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return win32::UniqueHandle(token);
    return {};
}

} // namespace

bool lookUpAccount(Account &account)
{
    const win32::UniqueHandle token = openToken();
    if (!token)
        return false;

    DWORD size = 0;
    if (GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size)
        || GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return false;
    const std::unique_ptr<void, HeapFreer> information(HeapAlloc(GetProcessHeap(), 0, size));
    if (!information || !GetTokenInformation(token.get(), TokenUser, information.get(), size, &size))
        return false;
    const PSID sid = static_cast<TOKEN_USER *>(information.get())->User.Sid;

    std::u16string name;
    std::u16string domain;
    const bool found = win32::lookUpNamesWithGrowingBuffers(
        [sid](std::u16string &nameBuffer, std::u16string &domainBuffer) {
            DWORD nameLength = static_cast<DWORD>(nameBuffer.size());
            DWORD domainLength = static_cast<DWORD>(domainBuffer.size());
            SID_NAME_USE use;
            if (LookupAccountSidW(nullptr, sid, reinterpret_cast<LPWSTR>(nameBuffer.data()),
                                  &nameLength, reinterpret_cast<LPWSTR>(domainBuffer.data()),
                                  &domainLength, &use))
                return win32::NameLookup::Found;
            return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? win32::NameLookup::BufferTooSmall
                                                               : win32::NameLookup::Failed;
        },
        name, domain);
    if (!found)
        return false;
    account.name = name;
    account.domain = domain;
    return true;
}

} // namespace platform
