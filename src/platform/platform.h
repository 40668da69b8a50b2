// The one seam between Tessarino and the operating system. Plain C++ only (no
// Qt), so that the Windows side can be built and tested on its own under Wine.
// Texts are UTF-16 (std::u16string), as Windows hands them out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// ---- executable and account ---------------------------------------------------------

// The folder of the running executable, without a trailing separator; empty when the
// system cannot tell or the path does not fit (Windows: 260 characters).
std::u16string executableFolder();

// The file name of a program called `baseName` on this system ("qs" gives "qs.exe"
// on Windows, "qs" on Linux).
std::u16string executableFileName(const std::u16string &baseName);

struct Account
{
    std::u16string name;   // the account as the system reports it
    std::u16string domain; // Windows: the account's domain; Linux: the short host name
};

// The account of the current thread or process. False when it cannot be found.
bool lookUpAccount(Account &account);

// ---- start-up guards ----------------------------------------------------------------

// True when another copy of the program runs for this user. On Linux the first copy
// takes a per-user lock that it keeps until the process ends.
bool isAnotherInstanceRunning();

// Runs the updater in check mode, waits for it and tells whether it reported updates
// (exit code 2). A missing or failing updater gives false and a warning line.
bool updatesAvailable();

// Starts the updater for the user and ends the process with exit code 1.
[[noreturn]] void launchUpdater();

// ---- starting other programs ---------------------------------------------------------

// Starts a program without arguments and without waiting for it; it outlives us.
// False when it could not be started (or the path does not fit a Windows buffer).
bool startDetached(const std::u16string &program);

// What the Remote Desktop client needs. Windows hands the client the connection file
// (whose password line it reads); the Linux client also takes the domain on its command
// line and the plain password on its standard input, never in argv or the environment.
struct RemoteDesktopLaunch
{
    std::u16string connectionFile;
    std::u16string host;
    std::u16string port;
    std::u16string domain;
    std::u16string password;
};

// Starts the Remote Desktop client full screen and does not wait for it.
// False when the client could not be started.
bool launchRemoteDesktopClient(const RemoteDesktopLaunch &launch);

// ---- data protection -----------------------------------------------------------------

// Protects bytes so that only the current OS user can read them back. On failure
// returns false with a system error code in `error`.
bool protectData(const std::vector<std::uint8_t> &plain, std::vector<std::uint8_t> &blob,
                 std::uint32_t &error);

// Opens a blob made by protectData for the current user. False when the data was made
// for another user, was damaged, or is not a blob at all.
bool unprotectData(const std::vector<std::uint8_t> &blob, std::vector<std::uint8_t> &plain);

// The system's text for an error code (FormatMessageW / strerror); may be empty.
std::u16string systemErrorText(std::uint32_t code);

} // namespace platform
