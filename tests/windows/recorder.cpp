// Stands in for the programs Tessarino starts (the updater, the Remote Desktop client,
// the assistance tool): it writes the command line it received, as UTF-16, to the
// file named by TESSARINO_RECORD_FILE and exits with TESSARINO_RECORD_EXIT (default 0).
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

std::wstring environment(const wchar_t *name)
{
    wchar_t value[4096] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, 4096);
    return length > 0 && length < 4096 ? std::wstring(value, length) : std::wstring();
}

} // namespace

int main()
{
    const std::wstring record = environment(L"TESSARINO_RECORD_FILE");
    if (!record.empty()) {
        // Written aside and renamed, so that a reader never sees half a record.
        const std::wstring partial = record + L".partial";
        HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return 100;
        const wchar_t *commandLine = GetCommandLineW();
        DWORD written = 0;
        WriteFile(file, commandLine, static_cast<DWORD>(std::wcslen(commandLine) * sizeof(wchar_t)),
                  &written, nullptr);
        CloseHandle(file);
        MoveFileExW(partial.c_str(), record.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    const std::wstring exitCode = environment(L"TESSARINO_RECORD_EXIT");
    return exitCode.empty() ? 0 : static_cast<int>(std::wcstol(exitCode.c_str(), nullptr, 10));
}
