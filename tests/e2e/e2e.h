// Running the test variant of the program as a person would: in a user account of its
// own (temporary HOME and runtime folder), from a program folder the test may change,
// on an Xvfb display where its windows are found and answered with xdotool.
#pragma once

#include "support/xsession.h"

#include <QPoint>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QTemporaryDir>

namespace tests {

// A fresh user: HOME, the XDG folders and a private runtime folder, plus a copy of the
// test variant's folder (program, template, icons) that the test may add files to or
// remove files from.
class Sandbox
{
public:
    // False (with a QWARN) when the folders or the copy cannot be made.
    bool prepare();
    QString root() const { return m_dir.path(); }
    QString programFolder() const { return m_dir.filePath(QStringLiteral("program")); }
    QString program() const { return programFolder() + QStringLiteral("/tessarino"); }
    // The display's environment with this user's HOME and XDG folders.
    QProcessEnvironment environment(const XServer &x) const;

private:
    QTemporaryDir m_dir;
};

// The program started from a sandbox's folder, with that folder as current directory
// (the application icon is read from there). Stopped by pid with its owner.
class RunningProgram
{
public:
    bool start(const Sandbox &sandbox, const XServer &x);
    qint64 pid() const { return m_child.pid(); }
    bool isRunning() const { return m_child.isRunning(); }
    // Waits for the end; true when it ended by itself in time.
    bool waitForExit(int timeoutMs = 15000);
    // The exit code of a normal end; -1 after a crash or a signal.
    int exitCode();
    // Everything it wrote to standard error so far.
    QString standardError();
    void stop() { m_child.stop(); }
    // Its state, its windows on `x` and its standard error, for the message of a
    // failed check.
    QString report(const XServer &x);

private:
    ChildProcess m_child;
    QString m_stderr;
};

// The id of a mapped window of process `pid` whose title is exactly `title`, waiting
// up to `timeoutMs`; empty when none shows.
QString waitForWindowOf(const XServer &x, qint64 pid, const QString &title, int timeoutMs = 15000);
// The same without waiting.
QString windowOf(const XServer &x, qint64 pid, const QString &title);
// Gives the window the keyboard focus and types `key` (an xdotool key name).
bool pressKey(const XServer &x, const QString &windowId, const QString &key);

// The position and size of a window.
QRect windowGeometry(const XServer &x, const QString &windowId);
// The centre of the icon docked in trayer's panel, once the panel has grown to hold
// it; a null point when no icon docks in time.
QPoint trayIconCentre(const XServer &x);
// Opens the tray menu of process `pid` with the right button on its icon, as a person
// would; returns the menu's geometry, or a null rectangle when it does not open.
QRect openTrayMenu(const XServer &x, qint64 pid);

// Processes other than this one whose command line holds `needle`.
QList<qint64> processesWithCommandLine(const QByteArray &needle);
// Processes other than this one whose command line or environment holds `secret`.
QList<qint64> processesExposing(const QByteArray &secret);

} // namespace tests
