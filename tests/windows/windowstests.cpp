// The Windows side of the seam on real Win32 semantics (Wine): real processes, the
// real data protection API, the executable's own resources. Helper programs built
// next to this one: "probe.exe" (copied as "Tessarino.exe" and others) and
// "recorder.exe" (the fake updater and, in the prefix's system32, the fake client).
#include "platform/platform.h"
#include "platform/windows/helpers.h"
#include "testrunner.h"

#include "platform/windows/win32.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

// ---- helpers -------------------------------------------------------------------------

std::wstring w(const std::u16string &text)
{
    return std::wstring(reinterpret_cast<const wchar_t *>(text.data()), text.size());
}

std::u16string u(const std::wstring &text)
{
    return std::u16string(reinterpret_cast<const char16_t *>(text.data()), text.size());
}

struct HandleCloser
{
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Handle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

std::wstring modulePath()
{
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

std::wstring testFolder()
{
    const std::wstring path = modulePath();
    return path.substr(0, path.rfind(L'\\'));
}

// A fresh folder of this test run under the temporary folder.
std::wstring scratchFolder(const std::wstring &name)
{
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    std::wstring folder = std::wstring(temp) + L"tessarino-tests";
    CreateDirectoryW(folder.c_str(), nullptr);
    folder += L"\\" + name;
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

bool fileExists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void setEnvironment(const wchar_t *name, const std::wstring &value)
{
    SetEnvironmentVariableW(name, value.empty() ? nullptr : value.c_str());
}

// Starts a command line; the process handle, or none.
Handle start(const std::wstring &commandLine)
{
    std::wstring buffer = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return {};
    CloseHandle(info.hThread);
    return Handle(info.hProcess);
}

// Runs a command line to its end; its exit code, or -1 when it did not start or end.
long run(const std::wstring &commandLine)
{
    const Handle process = start(commandLine);
    if (!process)
        return -1;
    if (WaitForSingleObject(process.get(), 120000) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 99);
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return static_cast<long>(code);
}

void stop(const Handle &process)
{
    TerminateProcess(process.get(), 0);
    WaitForSingleObject(process.get(), 120000);
}

std::optional<std::wstring> readRecord(const std::wstring &path)
{
    HANDLE opened = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        return std::nullopt;
    const Handle file(opened);
    std::wstring text(GetFileSize(file.get(), nullptr) / sizeof(wchar_t), L'\0');
    DWORD read = 0;
    ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &read,
             nullptr);
    return text;
}

// The record a detached program writes; waits for it, as nothing else tells when the
// program has run.
std::optional<std::wstring> waitForRecord(const std::wstring &path)
{
    for (int i = 0; i < 1200; ++i) {
        if (fileExists(path))
            return readRecord(path);
        Sleep(50);
    }
    return std::nullopt;
}

std::vector<std::wstring> splitCommandLine(const std::wstring &commandLine)
{
    int count = 0;
    wchar_t **arguments = CommandLineToArgvW(commandLine.c_str(), &count);
    std::vector<std::wstring> out;
    for (int i = 0; arguments != nullptr && i < count; ++i)
        out.emplace_back(arguments[i]);
    LocalFree(arguments);
    return out;
}

// The recorder, ready to write its command line to a fresh record file.
struct Recorder
{
    std::wstring record;

    Recorder(const std::wstring &name, long exitCode = 0)
        : record(scratchFolder(L"records") + L"\\" + name + L".txt")
    {
        DeleteFileW(record.c_str());
        setEnvironment(L"TESSARINO_RECORD_FILE", record);
        setEnvironment(L"TESSARINO_RECORD_EXIT", std::to_wstring(exitCode));
    }
    ~Recorder()
    {
        setEnvironment(L"TESSARINO_RECORD_FILE", {});
        setEnvironment(L"TESSARINO_RECORD_EXIT", {});
    }
};

// The fake updater in this program's folder, for as long as the object lives.
struct FakeUpdater
{
    std::wstring path = testFolder() + L"\\wyUpdate.exe";

    FakeUpdater() { CopyFileW((testFolder() + L"\\recorder.exe").c_str(), path.c_str(), FALSE); }
    ~FakeUpdater() { DeleteFileW(path.c_str()); }
};

// ---- executable and account ----------------------------------------------------------

TEST_CASE("executable folder of the running module")
{
    const std::wstring folder = w(platform::executableFolder());
    REQUIRE(!folder.empty());
    CHECK(folder.back() != L'\\');
    const std::wstring path = modulePath();
    CHECK(path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0
          && path[folder.size()] == L'\\');
    // The helpers are built next to this program.
    CHECK(fileExists(folder + L"\\recorder.exe"));
    CHECK(platform::executableFileName(u"qs") == u"qs.exe");
}

TEST_CASE("folder of a module path")
{
    const struct
    {
        std::u16string path;
        std::u16string folder;
    } rows[] = {
        {u"C:\\Programmi\\Tessarino\\Tessarino.exe", u"C:\\Programmi\\Tessarino"},
        {u"C:\\Tessarino.exe", u"C:"},
        {u"\\\\server\\share\\Tessarino.exe", u"\\\\server\\share"},
        {u"C:Tessarino.exe", u"C:"}, // no backslash: the drive
        {u"T", u"T"},
        {u"", u""},
    };
    for (const auto &row : rows)
        CHECK_TEXT(platform::win32::folderOfModulePath(row.path), row.folder);
}

TEST_CASE("account of the process")
{
    platform::Account account;
    REQUIRE(platform::lookUpAccount(account));
    wchar_t user[256] = {};
    DWORD length = 256;
    REQUIRE(GetUserNameW(user, &length));
    CHECK_TEXT(account.name, u(user));
    CHECK(!account.domain.empty());
    CHECK(account.name.find(u'\0') == std::u16string::npos);
    CHECK(account.domain.find(u'\0') == std::u16string::npos);
}

TEST_CASE("account names grow their buffers until they fit")
{
    // name length, domain length, found, buffer sizes (characters) tried
    const struct
    {
        std::size_t name;
        std::size_t domain;
        bool found;
        std::vector<std::size_t> capacities;
    } rows[] = {
        {49, 6, true, {50}},
        {50, 6, true, {50, 150}},
        {149, 6, true, {50, 150}},
        {150, 6, true, {50, 150, 250}},
        {6, 50, true, {50, 150}},
        {1049, 6, true, {50, 150, 250, 350, 450, 550, 650, 750, 850, 950, 1050}},
        {1050, 6, false, {50, 150, 250, 350, 450, 550, 650, 750, 850, 950, 1050}},
    };
    for (const auto &row : rows) {
        const std::u16string expectedName(row.name, u'n');
        const std::u16string expectedDomain(row.domain, u'd');
        std::vector<std::size_t> tried;
        std::u16string name = u"stale";
        std::u16string domain = u"stale";
        const bool found = platform::win32::lookUpNamesWithGrowingBuffers(
            [&](std::u16string &nameBuffer, std::u16string &domainBuffer) {
                tried.push_back(nameBuffer.size());
                if (domainBuffer.size() != nameBuffer.size())
                    return platform::win32::NameLookup::Failed;
                // As the system does: the names with their zeros, or "too small".
                if (row.name + 1 > nameBuffer.size() || row.domain + 1 > domainBuffer.size())
                    return platform::win32::NameLookup::BufferTooSmall;
                expectedName.copy(nameBuffer.data(), row.name);
                expectedDomain.copy(domainBuffer.data(), row.domain);
                return platform::win32::NameLookup::Found;
            },
            name, domain);
        CHECK(found == row.found);
        CHECK(tried == row.capacities);
        if (row.found) {
            CHECK(name == expectedName);
            CHECK(domain == expectedDomain);
        }
    }

    int attempts = 0;
    std::u16string name;
    std::u16string domain;
    CHECK(!platform::win32::lookUpNamesWithGrowingBuffers(
        [&](std::u16string &, std::u16string &) {
            ++attempts;
            return platform::win32::NameLookup::Failed;
        },
        name, domain));
    CHECK(attempts == 1);
}

// ---- start-up guards -----------------------------------------------------------------

TEST_CASE("another instance: only a process named exactly Tessarino.exe counts")
{
    const std::wstring probe = testFolder() + L"\\probe.exe";
    CHECK(!platform::isAnotherInstanceRunning());

    // A copy alone does not count itself.
    const std::wstring alone = scratchFolder(L"alone") + L"\\Tessarino.exe";
    REQUIRE(CopyFileW(probe.c_str(), alone.c_str(), FALSE));
    CHECK(run(L"\"" + alone + L"\" instance") == 10);

    const struct
    {
        const wchar_t *folder;
        const wchar_t *name;
        bool counts;
    } rows[] = {
        {L"exact", L"Tessarino.exe", true},
        {L"lower", L"tessarino.exe", false},
        {L"upper", L"TESSARINO.EXE", false},
        {L"other", L"Tessarino2.exe", false},
    };
    for (const auto &row : rows) {
        const std::wstring copy = scratchFolder(row.folder) + L"\\" + row.name;
        REQUIRE(CopyFileW(probe.c_str(), copy.c_str(), FALSE));
        // The copy tells when it runs, so that it is looked for only once it has started.
        const Handle ready(CreateEventW(nullptr, TRUE, FALSE, L"tessarino-probe-ready"));
        const Handle sleeper = start(L"\"" + copy + L"\" sleep");
        REQUIRE(ready && sleeper);
        REQUIRE(WaitForSingleObject(ready.get(), 120000) == WAIT_OBJECT_0);
        const bool seen = platform::isAnotherInstanceRunning();
        // The running copy, seen from a copy that is itself "Tessarino.exe".
        const long fromCopy = run(L"\"" + alone + L"\" instance");
        stop(sleeper);
        if (seen != row.counts || fromCopy != (row.counts ? 11 : 10))
            std::printf("    with %ls running: seen %d, from a copy %ld\n", row.name, seen,
                        fromCopy);
        CHECK(seen == row.counts);
        CHECK(fromCopy == (row.counts ? 11 : 10));
    }
    CHECK(!platform::isAnotherInstanceRunning());
}

TEST_CASE("updater command line and path fit 260 characters or are refused")
{
    const std::u16string folder = u"C:\\Program Files\\Tessarino";
    CHECK_TEXT(platform::win32::updaterCheckCommandLine(folder),
               u"\"C:\\Program Files\\Tessarino\\wyUpdate.exe\" /quickcheck /justcheck");
    CHECK_TEXT(platform::win32::updaterPath(folder), u"C:\\Program Files\\Tessarino\\wyUpdate.exe");
    CHECK_TEXT(platform::win32::updaterCheckCommandLine(u""), u"");
    CHECK_TEXT(platform::win32::updaterPath(u""), u"");

    // The command line is the folder plus 38 characters, the path the folder plus 13;
    // with the terminating zero each must stay within 260.
    const struct
    {
        std::size_t folderLength;
        bool commandLineFits;
        bool pathFits;
    } rows[] = {
        {221, true, true}, {222, false, true}, {246, false, true},
        {247, false, false}, {300, false, false}, {5000, false, false},
    };
    for (const auto &row : rows) {
        const std::u16string longFolder = u"C:\\" + std::u16string(row.folderLength - 3, u'x');
        const std::u16string commandLine = platform::win32::updaterCheckCommandLine(longFolder);
        const std::u16string path = platform::win32::updaterPath(longFolder);
        CHECK(!commandLine.empty() == row.commandLineFits);
        CHECK(!path.empty() == row.pathFits);
        if (row.commandLineFits)
            CHECK(commandLine.size() == row.folderLength + 38);
        if (row.pathFits)
            CHECK(path.size() == row.folderLength + 13);
    }
}

TEST_CASE("update check runs the updater and reads exit code 2 as updates")
{
    const FakeUpdater updater;
    const std::wstring expected = L"\"" + testFolder() + L"\\wyUpdate.exe\" /quickcheck /justcheck";
    const struct
    {
        long exitCode;
        bool updates;
    } rows[] = {{0, false}, {1, false}, {2, true}, {3, false}};
    for (const auto &row : rows) {
        const Recorder recorder(L"updater-check", row.exitCode);
        CHECK(platform::updatesAvailable() == row.updates);
        const auto record = readRecord(recorder.record);
        REQUIRE(record.has_value());
        CHECK_TEXT(u(*record), u(expected));
    }
}

TEST_CASE("update check without an updater reports no updates")
{
    const std::wstring path = testFolder() + L"\\wyUpdate.exe";
    DeleteFileW(path.c_str());
    REQUIRE(!fileExists(path));
    CHECK(!platform::updatesAvailable());
}

TEST_CASE("launching the updater starts it without arguments and ends with 1")
{
    const std::wstring probe = L"\"" + testFolder() + L"\\probe.exe\" launch-updater";
    {
        const FakeUpdater updater;
        const Recorder recorder(L"updater-launch");
        CHECK(run(probe) == 1);
        const auto record = waitForRecord(recorder.record);
        REQUIRE(record.has_value());
        const auto arguments = splitCommandLine(*record);
        REQUIRE(arguments.size() == 1);
        CHECK(lstrcmpiW(arguments[0].c_str(), updater.path.c_str()) == 0);
    }
    // Without the updater the program still ends, with the same code.
    CHECK(run(probe) == 1);
}

// ---- starting other programs ---------------------------------------------------------

TEST_CASE("Remote Desktop client gets the quoted connection file, server and full screen")
{
    const Recorder recorder(L"client");
    platform::RemoteDesktopLaunch launch;
    launch.connectionFile = u"C:\\users\\Mario Rossi\\Dati applicazioni\\Tessarino\\my.rdp";
    launch.host = u"192.0.2.10";
    launch.port = u"3389";
    launch.domain = u"DOMINIOSEGRETO";
    launch.password = u"PAROLASEGRETA";
    REQUIRE(platform::launchRemoteDesktopClient(launch));

    const auto record = waitForRecord(recorder.record);
    REQUIRE(record.has_value());
    const std::u16string parameters =
        u"\"C:\\users\\Mario Rossi\\Dati applicazioni\\Tessarino\\my.rdp\" /v:192.0.2.10:3389 /f";
    const std::u16string commandLine = u(*record);
    CHECK(commandLine.size() > parameters.size()
          && commandLine.compare(commandLine.size() - parameters.size(), parameters.size(),
                                 parameters)
              == 0);
    if (commandLine.size() <= parameters.size()
        || commandLine.compare(commandLine.size() - parameters.size(), parameters.size(),
                               parameters)
            != 0)
        std::printf("    recorded: %s\n", wintest::utf8(commandLine).c_str());

    const auto arguments = splitCommandLine(*record);
    REQUIRE(arguments.size() == 4);
    CHECK(lstrcmpiW(arguments[0].c_str(), L"C:\\windows\\system32\\mstsc.exe") == 0);
    CHECK_TEXT(u(arguments[1]), launch.connectionFile);
    CHECK(arguments[2] == L"/v:192.0.2.10:3389");
    CHECK(arguments[3] == L"/f");
    // Domain and password travel in the connection file only.
    CHECK(commandLine.find(u"DOMINIOSEGRETO") == std::u16string::npos);
    CHECK(commandLine.find(u"PAROLASEGRETA") == std::u16string::npos);
}

TEST_CASE("Remote Desktop client is refused when its path or command line does not fit")
{
    platform::RemoteDesktopLaunch launch;
    launch.connectionFile = u"C:\\" + std::u16string(40000, u'x') + u"\\my.rdp";
    launch.host = u"192.0.2.10";
    launch.port = u"3389";
    CHECK(!platform::launchRemoteDesktopClient(launch));

    // The system folder expanded beyond the 4096-character buffer.
    wchar_t saved[4096] = {};
    const DWORD savedLength = GetEnvironmentVariableW(L"SystemRoot", saved, 4096);
    REQUIRE(savedLength > 0 && savedLength < 4096);
    setEnvironment(L"SystemRoot", L"C:\\" + std::wstring(5000, L'w'));
    launch.connectionFile = u"C:\\my.rdp";
    const bool launched = platform::launchRemoteDesktopClient(launch);
    setEnvironment(L"SystemRoot", saved);
    CHECK(!launched);
}

TEST_CASE("a program starts detached; a missing or over-long one is refused")
{
    const Recorder recorder(L"detached");
    const std::wstring tool = scratchFolder(L"assistance") + L"\\qs.exe";
    REQUIRE(CopyFileW((testFolder() + L"\\recorder.exe").c_str(), tool.c_str(), FALSE));
    CHECK(platform::startDetached(u(tool)));
    const auto record = waitForRecord(recorder.record);
    REQUIRE(record.has_value());
    const auto arguments = splitCommandLine(*record);
    REQUIRE(arguments.size() == 1);
    CHECK(lstrcmpiW(arguments[0].c_str(), tool.c_str()) == 0);

    CHECK(!platform::startDetached(u(scratchFolder(L"assistance") + L"\\missing.exe")));
    CHECK(!platform::startDetached(u"C:\\" + std::u16string(5000, u'q') + u"\\qs.exe"));
    CHECK(!platform::startDetached(u""));
}

// ---- data protection -----------------------------------------------------------------

std::vector<std::uint8_t> utf16Bytes(const std::u16string &text)
{
    std::vector<std::uint8_t> bytes;
    for (char16_t c : text + u'\0') {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return bytes;
}

TEST_CASE("protected data opens again for the same user")
{
    const std::u16string texts[] = {
        u"Segreta1",
        u"",
        u"prezzo 100\u20AC",         // euro sign
        u"chiave \U0001D11E fine",   // a surrogate pair
        std::u16string(500, u'\u00E8'),
    };
    for (const auto &text : texts) {
        const std::vector<std::uint8_t> plain = utf16Bytes(text);
        std::vector<std::uint8_t> blob;
        std::uint32_t error = 0;
        REQUIRE(platform::protectData(plain, blob, error));
        CHECK(!blob.empty());
        CHECK(std::search(blob.begin(), blob.end(), plain.begin(), plain.end()) == blob.end()
              || plain.size() <= 2);
        std::vector<std::uint8_t> opened;
        REQUIRE(platform::unprotectData(blob, opened));
        CHECK(opened == plain);
    }
}

TEST_CASE("data that is no protected blob is refused")
{
    std::vector<std::uint8_t> opened = {1, 2, 3};
    CHECK(!platform::unprotectData({}, opened));

    std::vector<std::uint8_t> random(256);
    std::uint32_t state = 12345;
    for (auto &byte : random) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(state >> 16);
    }
    CHECK(!platform::unprotectData(random, opened));
    CHECK(opened == std::vector<std::uint8_t>({1, 2, 3}));
}

TEST_CASE("system error texts")
{
    const std::u16string known = platform::systemErrorText(ERROR_FILE_NOT_FOUND);
    CHECK(!known.empty());
    CHECK(known.find(u'\0') == std::u16string::npos);
    CHECK(platform::systemErrorText(0x2FFFFFF0u).empty());
}

// ---- resources -----------------------------------------------------------------------

TEST_CASE("executable resources: icon group and manifest")
{
    CHECK(FindResourceW(nullptr, L"IDI_ICON1", MAKEINTRESOURCEW(14)) != nullptr); // RT_GROUP_ICON

    HRSRC manifest = FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    REQUIRE(manifest != nullptr);
    HGLOBAL loaded = LoadResource(nullptr, manifest);
    REQUIRE(loaded != nullptr);
    const std::string text(static_cast<const char *>(LockResource(loaded)),
                           SizeofResource(nullptr, manifest));
    CHECK(text.find("level=\"asInvoker\"") != std::string::npos);
    CHECK(text.find("uiAccess=\"false\"") != std::string::npos);
    CHECK(text.find("name=\"Microsoft.Windows.Common-Controls\"") != std::string::npos);
    CHECK(text.find("version=\"6.0.0.0\"") != std::string::npos);
}

} // namespace

int main()
{
    return wintest::runAll();
}
