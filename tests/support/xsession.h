// Real X servers and desktop helpers for tests that drive programs like a person:
// an Xvfb display, a tray host, and xdotool. Everything started here is stopped by
// process id when its owner goes away.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

namespace tests {

// Stops a test's child process: TERM, then KILL if it does not end in time.
void stopProcess(QProcess &process);

// A process started for a test and stopped (TERM, then KILL) with its owner.
class ChildProcess
{
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    bool start(const QString &program, const QStringList &arguments,
               const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    void stop();
    bool isRunning() const;
    qint64 pid() const;
    QProcess &process() { return *m_process; }

private:
    std::unique_ptr<QProcess> m_process;
};

// An Xvfb display chosen by the server itself (-displayfd), so tests never collide.
class XServer
{
public:
    bool start(int width = 1024, int height = 768);
    QString display() const { return m_display; }
    // The system environment with DISPLAY pointing here and the xcb platform.
    QProcessEnvironment environment() const;
    // Runs xdotool on this display; returns its standard output, trimmed.
    QString xdotool(const QStringList &arguments, int *exitCode = nullptr) const;
    // Waits until a window whose name matches `name` is mapped; returns its id or "".
    QString waitForWindow(const QString &name, int timeoutMs = 15000) const;
    // Saves the whole screen as PNG (ImageMagick's import).
    bool screenshot(const QString &pngPath) const;

private:
    ChildProcess m_server;
    QString m_display;
};

// A notification-area host (trayer) on a display, so tray icons can be shown.
class TrayHost
{
public:
    bool start(const XServer &x);

private:
    ChildProcess m_trayer;
};

} // namespace tests
