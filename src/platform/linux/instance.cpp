// Start-up guards on Linux: the per-user single-instance lock and the optional updater
// "wyUpdate" next to the executable.
#include "platform/linux/text.h"
#include "platform/platform.h"

#include <QDir>
#include <QLockFile>
#include <QStandardPaths>
#include <QtGlobal>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>

#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

extern char **environ;

namespace platform {

namespace {

const char16_t kUpdaterName[] = u"wyUpdate";
const char kUpdateCheckFailed[] = "Fallita la verifica degli aggiornamenti.";

// Held by the first copy until the process ends; its destructor removes the lock file.
std::unique_ptr<QLockFile> &instanceLock()
{
    static std::unique_ptr<QLockFile> lock;
    return lock;
}

// The user's runtime folder (XDG_RUNTIME_DIR, private to the user and emptied at
// logout). Where there is none, the user's own cache folder: never a folder that other
// users can write to, where someone else could plant the lock first.
QString lockFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return folder;
}

std::string updaterPath()
{
    const std::u16string folder = executableFolder();
    if (folder.empty())
        return {};
    return toLocal8Bit(folder + u"/" + executableFileName(kUpdaterName));
}

} // namespace

bool isAnotherInstanceRunning()
{
    std::unique_ptr<QLockFile> &lock = instanceLock();
    if (lock && lock->isLocked())
        return false; // this process is the first copy

    const QString folder = lockFolder();
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        qWarning("Single-instance lock unavailable: no folder for it");
        return false;
    }
    lock = std::make_unique<QLockFile>(folder + QStringLiteral("/tessarino.lock"));
    // A lock is stale only when the copy that took it is gone, however old it is: a
    // copy that has run for days still holds it.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0))
        return false;
    if (lock->error() == QLockFile::LockFailedError)
        return true;
    // The lock cannot be made at all (permissions, full disk): start as the first copy
    // rather than refuse to run.
    qWarning("Single-instance lock unavailable in %s", qPrintable(folder));
    lock.reset();
    return false;
}

bool updatesAvailable()
{
    const std::string path = updaterPath();
    if (path.empty()) {
        qWarning("%s", kUpdateCheckFailed);
        return false;
    }
    std::string quickCheck = "/quickcheck";
    std::string justCheck = "/justcheck";
    std::string program = path;
    char *argv[] = { program.data(), quickCheck.data(), justCheck.data(), nullptr };

    pid_t pid = 0;
    if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) != 0) {
        qWarning("%s", kUpdateCheckFailed);
        return false;
    }
    int status = 0;
    pid_t waited = 0;
    do {
        waited = waitpid(pid, &status, 0);
    } while (waited == -1 && errno == EINTR);
    if (waited != pid)
        return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 2;
}

void launchUpdater()
{
    const std::string path = updaterPath();
    if (!path.empty())
        startDetached(fromLocal8Bit(path));
    std::exit(1);
}

} // namespace platform
