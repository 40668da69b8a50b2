// A real RDP server on 127.0.0.1 for end-to-end tests: FreeRDP's shadow server with
// NLA, sharing an Xvfb display that shows one full-screen colour, and one account
// in a SAM file.
#pragma once

#include "support/xsession.h"

#include <QColor>
#include <QTemporaryDir>

namespace tests {

class RdpServer
{
public:
    // Starts the desktop display, the colour window and the server. `port` 0 picks a
    // free port.
    bool start(const QString &domain, const QString &user, const QString &password,
               const QColor &colour, quint16 port = 0);
    quint16 port() const { return m_port; }
    QColor colour() const { return m_colour; }

private:
    QTemporaryDir m_dir;
    XServer m_desktop;
    ChildProcess m_colourWindow;
    ChildProcess m_server;
    quint16 m_port = 0;
    QColor m_colour;
};

// A free TCP port on 127.0.0.1 (bound and released at once).
quint16 freeLoopbackPort();

// Waits until something accepts connections on 127.0.0.1:port.
bool waitForLoopbackPort(quint16 port, int timeoutMs = 15000);

} // namespace tests
