#include "gateway/modbusserver.h"

#include "gateway/gatewayerror.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <modbus/modbus.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qf {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr quint16 DefaultPort = 1502;
// More clients than a plant connects; one past it is closed at once.
constexpr std::size_t MaxClients = 64;
constexpr int ListenBacklog = 64;
constexpr auto IdleTimeout = 60s;
// The MBAP header: transaction, protocol, length (2 bytes each), unit.
constexpr int HeaderSize = 7;
constexpr int LengthFieldEnd = 6; // the length counts the bytes after it
// A Modbus TCP request is at most 260 bytes: header plus a PDU of 253.
constexpr int LargestRequest = MODBUS_TCP_MAX_ADU_LENGTH;
constexpr int SmallestLength = 2; // unit and function code
constexpr int LargestLength = LargestRequest - LengthFieldEnd;
// A read is function code, address and quantity.
constexpr int ReadPduSize = 5;
constexpr std::array<int, 4> ReadFunctions{MODBUS_FC_READ_COILS, MODBUS_FC_READ_DISCRETE_INPUTS,
                                           MODBUS_FC_READ_HOLDING_REGISTERS, MODBUS_FC_READ_INPUT_REGISTERS};

int word(const std::uint8_t *bytes)
{
    return (bytes[0] << 8) | bytes[1];
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

struct ModbusServer::Client {
    int socket = -1;
    std::array<std::uint8_t, LargestRequest> buffer{};
    int filled = 0;
    Clock::time_point lastRequest = Clock::now();
};

std::optional<ListenAddress> ListenAddress::parse(const QString &text)
{
    ListenAddress address;
    QString portText;
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close < 0)
            return std::nullopt;
        address.host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(u':'))
            return std::nullopt;
        portText = rest.mid(1);
    } else {
        const qsizetype colon = text.lastIndexOf(u':');
        if (colon >= 0 && text.indexOf(u':') != colon)
            return std::nullopt; // an IPv6 address without brackets
        address.host = colon < 0 ? text : text.left(colon);
        portText = colon < 0 ? QString() : text.mid(colon + 1);
    }
    address.port = DefaultPort;
    if (!portText.isEmpty()) {
        bool ok = false;
        const uint port = portText.toUInt(&ok);
        if (!ok || port == 0 || port > 0xffff)
            return std::nullopt;
        address.port = quint16(port);
    }
    if (text.isEmpty())
        return std::nullopt;
    return address;
}

ModbusServer::ModbusServer(const ListenAddress &address)
{
    const QString shown = QStringLiteral("%1:%2").arg(address.host).arg(address.port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const QByteArray host = address.host.toUtf8();
    const QByteArray port = QByteArray::number(address.port);
    if (const int failed =
            getaddrinfo(host.isEmpty() ? nullptr : host.constData(), port.constData(), &hints, &found))
        throw GatewayRefused(
            QStringLiteral("Modbus address %1: %2").arg(shown, QString::fromLocal8Bit(gai_strerror(failed))));
    int error = 0;
    for (addrinfo *candidate = found; candidate != nullptr && m_listener < 0;
         candidate = candidate->ai_next) {
        m_listener = socket(candidate->ai_family, candidate->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                            candidate->ai_protocol);
        const int on = 1;
        if (m_listener >= 0 && setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
            bind(m_listener, candidate->ai_addr, candidate->ai_addrlen) == 0 &&
            listen(m_listener, ListenBacklog) == 0)
            break;
        error = errno;
        if (m_listener >= 0)
            ::close(m_listener);
        m_listener = -1;
    }
    freeaddrinfo(found);
    if (m_listener < 0) {
        const QString hint = error == EACCES ? QStringLiteral(" (a port below 1024 needs the capability "
                                                              "CAP_NET_BIND_SERVICE)")
                                             : QString();
        throw GatewayRefused(
            QStringLiteral("cannot listen for Modbus on %1: %2%3").arg(shown, systemError(error), hint));
    }
    sockaddr_storage bound{};
    socklen_t boundSize = sizeof bound;
    getsockname(m_listener, reinterpret_cast<sockaddr *>(&bound), &boundSize);
    m_port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port
                                               : reinterpret_cast<sockaddr_in *>(&bound)->sin_port);
    m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    // The context only answers requests on the clients' sockets: it
    // connects nowhere.
    m_context = modbus_new_tcp(nullptr, m_port);
    m_mapping = modbus_mapping_new(AlarmBitCount, AlarmBitCount, RegisterCount, RegisterCount);
    m_image = registerImage({});
    m_thread = std::thread([this] { serve(); });
}

ModbusServer::~ModbusServer()
{
    const std::uint64_t stop = 1;
    if (write(m_wake, &stop, sizeof stop) != sizeof stop)
        std::terminate(); // an eventfd that cannot count is a broken process
    m_thread.join();
    modbus_set_socket(m_context, -1);
    modbus_free(m_context);
    modbus_mapping_free(m_mapping);
    ::close(m_wake);
    ::close(m_listener);
}

void ModbusServer::show(const RegisterImage &image)
{
    const std::lock_guard lock(m_imageLock);
    m_image = image;
}

void ModbusServer::serve()
{
    std::vector<Client> clients;
    std::vector<pollfd> watched;
    for (;;) {
        const auto now = Clock::now();
        auto nextIdle = now + IdleTimeout;
        watched.assign({{m_wake, POLLIN, 0}, {m_listener, POLLIN, 0}});
        for (const Client &client : clients) {
            watched.push_back({client.socket, POLLIN, 0});
            nextIdle = std::min(nextIdle, client.lastRequest + IdleTimeout);
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(nextIdle - now);
        if (poll(watched.data(), watched.size(), int(std::max<qint64>(wait.count(), 0))) < 0 &&
            errno != EINTR)
            return;
        if (watched[0].revents != 0)
            return;
        // Served before new ones are let in, so each client here has its pollfd.
        const auto served = Clock::now();
        std::size_t kept = 0;
        for (std::size_t i = 0; i < clients.size(); ++i) {
            Client &client = clients[i];
            const short events = watched[i + 2].revents;
            const bool open = (events == 0 || readFrom(client)) && served - client.lastRequest < IdleTimeout;
            if (!open) {
                ::close(client.socket);
                continue;
            }
            if (kept != i)
                clients[kept] = client;
            ++kept;
        }
        clients.resize(kept);
        if (watched[1].revents != 0)
            acceptClients(clients);
    }
}

void ModbusServer::acceptClients(std::vector<Client> &clients)
{
    for (;;) {
        const int socket = accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (socket < 0)
            return;
        if (clients.size() >= MaxClients) {
            ::close(socket);
            continue;
        }
        clients.push_back({socket});
    }
}

// Reads what the client sent and answers each whole request in it; false
// when the connection is to close.
bool ModbusServer::readFrom(Client &client)
{
    const ssize_t got = recv(client.socket, client.buffer.data() + client.filled,
                             client.buffer.size() - std::size_t(client.filled), 0);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
        return false;
    if (got < 0)
        return true;
    client.filled += int(got);
    while (client.filled >= HeaderSize) {
        const int protocol = word(&client.buffer[2]);
        const int length = word(&client.buffer[4]);
        if (protocol != 0 || length < SmallestLength || length > LargestLength)
            return false; // not Modbus TCP, or longer than Modbus allows
        const int size = LengthFieldEnd + length;
        if (client.filled < size)
            break;
        client.lastRequest = Clock::now();
        if (!answer(client, client.buffer.data(), size))
            return false;
        std::memmove(client.buffer.data(), client.buffer.data() + size, std::size_t(client.filled - size));
        client.filled -= size;
    }
    return true;
}

bool ModbusServer::answer(Client &client, const std::uint8_t *request, int length)
{
    modbus_set_socket(m_context, client.socket);
    const int function = request[HeaderSize];
    const int pduSize = length - HeaderSize;
    if (std::find(ReadFunctions.begin(), ReadFunctions.end(), function) == ReadFunctions.end())
        return modbus_reply_exception(m_context, request, MODBUS_EXCEPTION_ILLEGAL_FUNCTION) > 0;
    if (pduSize != ReadPduSize)
        return modbus_reply_exception(m_context, request, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE) > 0;
    {
        const std::lock_guard lock(m_imageLock);
        std::copy(m_image.registers.begin(), m_image.registers.end(), m_mapping->tab_registers);
        std::copy(m_image.bits.begin(), m_image.bits.end(), m_mapping->tab_bits);
    }
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - m_started);
    m_mapping->tab_registers[HeartbeatRegister] = std::uint16_t(seconds.count());
    std::copy(m_mapping->tab_registers, m_mapping->tab_registers + RegisterCount,
              m_mapping->tab_input_registers);
    std::copy(m_mapping->tab_bits, m_mapping->tab_bits + AlarmBitCount, m_mapping->tab_input_bits);
    return modbus_reply(m_context, request, length, m_mapping) > 0;
}

} // namespace qf
