#pragma once

#include <QtGlobal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qf {

// A TCP port of the loopback interface that nothing listens on now: for a
// private server (a broker, the gateway's Modbus port) a test or benchmark
// starts.
inline quint16 freeLoopbackPort()
{
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr *>(&address), size);
    ::getsockname(probe, reinterpret_cast<sockaddr *>(&address), &size);
    ::close(probe);
    return ntohs(address.sin_port);
}

} // namespace qf
