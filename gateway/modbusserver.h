#pragma once

#include "gateway/registermap.h"

#include <QString>

#include <chrono>
#include <mutex>
#include <thread>

typedef struct _modbus modbus_t;
typedef struct _modbus_mapping_t modbus_mapping_t;

namespace qf {

// Where the Modbus server listens: an address (empty for every address of
// the machine) and a port.
struct ListenAddress {
    QString host;
    quint16 port = 1502;

    // "ADDRESS[:PORT]", "[IPV6][:PORT]" or ":PORT"; nothing when text is
    // none of these.
    static std::optional<ListenAddress> parse(const QString &text);
};

// A read-only Modbus TCP server of the register map on a thread of its own:
// function codes 3 and 4 read the registers, 1 and 2 the alarm bits; every
// other function (each write among them) is answered with exception 1, an
// address outside the map with exception 2. Each client has its own buffer
// on a non-blocking socket, so a silent client, one that sends half a
// request or never reads its answers holds up no other; a request that is
// malformed or longer than Modbus allows closes its connection, and so does
// a minute without a request.
class ModbusServer {
public:
    // Binds and listens before it returns; throws GatewayRefused when the
    // address is in use, not allowed or not the machine's.
    explicit ModbusServer(const ListenAddress &address);
    ~ModbusServer();
    ModbusServer(const ModbusServer &) = delete;
    ModbusServer &operator=(const ModbusServer &) = delete;

    quint16 port() const { return m_port; }
    // What the next request reads (the heartbeat is the server's own).
    void show(const RegisterImage &image);

private:
    struct Client;
    void serve();
    void acceptClients(std::vector<Client> &clients);
    bool readFrom(Client &client);
    bool answer(Client &client, const std::uint8_t *request, int length);

    int m_listener = -1;
    int m_wake = -1; // an eventfd: stop
    quint16 m_port = 0;
    modbus_t *m_context = nullptr;         // answers requests, on the server's thread
    modbus_mapping_t *m_mapping = nullptr; // what it answers from, on the server's thread
    std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();
    std::mutex m_imageLock;
    RegisterImage m_image; // guarded by m_imageLock
    std::thread m_thread;
};

} // namespace qf
