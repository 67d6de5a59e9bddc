#pragma once

#include "portlink.h"
#include "pseudoterminal.h"

#include <QTemporaryDir>

#include <unistd.h>

namespace qf {

// A device on a pseudo-terminal published as COM1 in a fresh application
// directory; the test plays the device on the master end.
struct PtyDevice {
    QTemporaryDir dir;
    PseudoTerminal pty;
    PortLink link{dir.path(), 1, pty.slavePath()};
    QByteArray fromStation;

    bool send(const QByteArray &b) { return ::write(pty.masterFd(), b.constData(), b.size()) == b.size(); }
    // Everything the station has written so far.
    const QByteArray &received()
    {
        char buffer[4096];
        for (ssize_t n = 0; pty.masterFd() >= 0 && (n = ::read(pty.masterFd(), buffer, sizeof buffer)) > 0;)
            fromStation.append(buffer, int(n));
        return fromStation;
    }
};

} // namespace qf
