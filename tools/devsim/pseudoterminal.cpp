#include "pseudoterminal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace qf {

PseudoTerminal::PseudoTerminal()
{
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        m_error = QStringLiteral("openpty: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    m_master = master;
    m_slavePath = QString::fromLocal8Bit(name);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    makeRaw();
    ::close(slave);
}

PseudoTerminal::~PseudoTerminal()
{
    closeMaster();
}

bool PseudoTerminal::slaveOpen() const
{
    if (m_master < 0)
        return false;
    pollfd pfd{m_master, 0, 0};
    if (::poll(&pfd, 1, 0) < 0)
        return false;
    return (pfd.revents & POLLHUP) == 0;
}

void PseudoTerminal::makeRaw()
{
    // Terminal attributes asked of the master end are those of the slave.
    termios tio{};
    if (m_master < 0 || ::tcgetattr(m_master, &tio) != 0)
        return;
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B9600);
    ::tcsetattr(m_master, TCSANOW, &tio);
}

void PseudoTerminal::closeMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

} // namespace qf
