// Starting other programs on Linux, detached: the program gets its own session, is
// not our child (nothing to reap) and keeps running after we end.
#include "platform/platform.h"

#include <QProcess>

namespace platform {

bool startDetached(const std::u16string &program)
{
    if (program.empty())
        return false;
    QProcess process;
    process.setProgram(QString::fromStdU16String(program));
    // Nothing of ours reaches it: no arguments, and no terminal or pipe of ours that
    // would keep it tied to us.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    // QProcess forks twice and starts a new session; it reports a program that could
    // not be executed (missing, not executable) as a failure.
    return process.startDetached();
}

} // namespace platform
