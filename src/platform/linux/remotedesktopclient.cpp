// The Remote Desktop client on Linux: the FreeRDP client, started detached on the
// connection file. The password reaches it only through a pipe on its standard input.
#include "connect/clientcommand.h"
#include "platform/linux/text.h"
#include "platform/platform.h"

#include <QByteArray>
#include <QStandardPaths>
#include <QString>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace platform {

namespace {

// FreeRDP 2 installs "xfreerdp"; systems with only FreeRDP 3 have "xfreerdp3".
QString findClient()
{
    for (const char *name : {"xfreerdp", "xfreerdp3"}) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!path.isEmpty())
            return path;
    }
    return {};
}

// A file descriptor closed when it goes out of scope.
class Fd
{
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }
    int *out() { return &m_fd; }
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

bool makePipe(Fd &readEnd, Fd &writeEnd)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    *readEnd.out() = fds[0];
    *writeEnd.out() = fds[1];
    return true;
}

// Writes all of `data` into a pipe that nobody reads yet. The pipe is non-blocking, so a
// text larger than the pipe's buffer fails instead of hanging.
bool writeAll(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void wipe(QByteArray &bytes)
{
    if (!bytes.isEmpty())
        ::explicit_bzero(bytes.data(), static_cast<std::size_t>(bytes.size()));
    bytes.clear();
}

void wipe(QString &text)
{
    if (!text.isEmpty())
        ::explicit_bzero(text.data(), static_cast<std::size_t>(text.size()) * sizeof(QChar));
    text.clear();
}

// The password and its line feed, in the system's 8-bit encoding, put into the pipe
// that becomes the client's standard input. The copies made on the way are wiped.
bool fillPasswordPipe(int fd, const std::u16string &password)
{
    QString text = QString::fromStdU16String(password);
    QByteArray bytes = text.toLocal8Bit();
    wipe(text);
    const bool ok = ::fcntl(fd, F_SETFL, O_NONBLOCK) == 0
                    && writeAll(fd, bytes.constData(), static_cast<std::size_t>(bytes.size()))
                    && writeAll(fd, "\n", 1);
    wipe(bytes);
    return ok;
}

// Async-signal-safe report of errno from a forked child to the parent.
void reportErrno(int fd)
{
    const int error = errno;
    [[maybe_unused]] const ssize_t n = ::write(fd, &error, sizeof error);
}

} // namespace

bool launchRemoteDesktopClient(const RemoteDesktopLaunch &launch)
{
    const QString client = findClient();
    if (client.isEmpty()) {
        qWarning("Remote Desktop client not found: neither xfreerdp nor xfreerdp3 is on the PATH");
        return false;
    }

    // Everything the child needs is prepared here: after fork only async-signal-safe
    // calls are allowed.
    const std::string program = client.toLocal8Bit().toStdString();
    std::vector<std::string> arguments{
        client.section(QLatin1Char('/'), -1).toLocal8Bit().toStdString()};
    for (const std::u16string &argument : clientcommand::freerdpArguments(
             launch.connectionFile, launch.host, launch.port, launch.domain))
        arguments.push_back(toLocal8Bit(argument));
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    Fd stdinRead, stdinWrite, errorRead, errorWrite;
    Fd devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (devNull.get() < 0 || !makePipe(stdinRead, stdinWrite)
        || !makePipe(errorRead, errorWrite)) {
        qWarning("Cannot start the Remote Desktop client: %s", std::strerror(errno));
        return false;
    }
    // The password goes into the pipe before the client exists and the writing end is
    // closed at once: the client reads it and then end of file, and we never write to a
    // pipe whose reader may have gone (no SIGPIPE).
    if (!fillPasswordPipe(stdinWrite.get(), launch.password)) {
        qWarning("Cannot hand the password to the Remote Desktop client");
        return false;
    }
    stdinWrite.reset();

    // Two forks: the intermediate child starts a new session, forks the client and
    // ends at once; we reap it, so the client is nobody's zombie, and it lives on in
    // its own session after we end.
    const pid_t intermediate = ::fork();
    if (intermediate < 0) {
        qWarning("Cannot start the Remote Desktop client: %s", std::strerror(errno));
        return false;
    }
    if (intermediate == 0) {
        ::setsid();
        const pid_t pid = ::fork();
        if (pid < 0) {
            reportErrno(errorWrite.get());
            ::_exit(1);
        }
        if (pid > 0)
            ::_exit(0);

        // The client: our pipe as standard input, /dev/null for its output, default
        // signal handling, and none of our other descriptors (the single-instance lock
        // among them) past exec. The error pipe closes itself when exec succeeds.
        if (::dup2(stdinRead.get(), STDIN_FILENO) < 0
            || ::dup2(devNull.get(), STDOUT_FILENO) < 0
            || ::dup2(devNull.get(), STDERR_FILENO) < 0) {
            reportErrno(errorWrite.get());
            ::_exit(127);
        }
        ::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC);
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::signal(SIGPIPE, SIG_DFL);
        ::execve(program.c_str(), argv.data(), environ);
        reportErrno(errorWrite.get());
        ::_exit(127);
    }

    errorWrite.reset();
    stdinRead.reset();
    int status = 0;
    while (::waitpid(intermediate, &status, 0) < 0 && errno == EINTR) {
    }

    // Nothing on the error pipe means exec succeeded (the pipe closed on exec).
    int childError = 0;
    ssize_t n;
    while ((n = ::read(errorRead.get(), &childError, sizeof childError)) < 0 && errno == EINTR) {
    }
    if (n > 0) {
        qWarning("Cannot start the Remote Desktop client %s: %s", qPrintable(client),
                 std::strerror(childError));
        return false;
    }
    return true;
}

} // namespace platform
