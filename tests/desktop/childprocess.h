#pragma once

#include <QProcess>

namespace desktop {

// Ends a child the way a session does: asked first, killed if it does not
// go within 5 s.
inline void endProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished(3000);
}

} // namespace desktop
