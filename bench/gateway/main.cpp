// quillfern-bench-gateway: the gateway with both MQTT (a private mosquitto
// broker on a free loopback port) and Modbus TCP on, while the station
// commits at the line's 45 frames/s.
//
//   quillfern-bench-gateway [--seconds 30]
//
// Prints the delay from a commit's return to its `record` message at a
// subscriber and to the rowid in the registers (polled every 5 ms), the
// request latency of 16 Modbus clients each polling every 100 ms, and the
// gateway's CPU time and memory meanwhile.

#include "bench/support/benchsupport.h"
#include "recordlog/recordlog.h"
#include "store/storemaintenance.h"
#include "support/fakes.h"
#include "support/freeport.h"

#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <modbus/modbus.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace qf;

namespace {

using namespace qf::bench;
using namespace std::chrono_literals;

constexpr double KiBPerMB = 1024.0;
constexpr auto GatewayReady = 30s;

constexpr double FramesPerSecond = 45.0;
constexpr int Pollers = 16;
constexpr auto PollerInterval = 100ms;
constexpr auto RegisterWatchInterval = 5ms;
constexpr int RegisterCount = 19;
constexpr int RowidRegister = 12;

qint64 rowidOf(const QByteArray &json)
{
    const qsizetype at = json.indexOf("\"rowid\":");
    return at < 0 ? 0 : json.mid(at + 8, json.indexOf(',', at) - at - 8).toLongLong();
}

// When each record's message arrived.
struct Arrivals {
    std::mutex lock;
    std::map<qint64, Clock::time_point> at;
};

// Watches the rowid registers; a record is in them when its rowid or a
// later one is.
struct RegisterWatch {
    std::mutex lock;
    std::map<qint64, Clock::time_point> firstSeen; // rowid -> when the registers first showed it
};

void watchRegisters(quint16 port, RegisterWatch &watch, const std::atomic<bool> &stop)
{
    modbus_t *client = modbus_new_tcp("127.0.0.1", port);
    modbus_connect(client);
    while (!stop) {
        std::array<quint16, 2> words{};
        if (modbus_read_registers(client, RowidRegister, 2, words.data()) == 2) {
            const qint64 rowid = qint64(words[0]) << 16 | words[1];
            const std::lock_guard guard(watch.lock);
            watch.firstSeen.try_emplace(rowid, Clock::now());
        }
        std::this_thread::sleep_for(RegisterWatchInterval);
    }
    modbus_close(client);
    modbus_free(client);
}

void pollRegisters(quint16 port, std::vector<double> &latencies, const std::atomic<bool> &stop)
{
    modbus_t *client = modbus_new_tcp("127.0.0.1", port);
    modbus_connect(client);
    std::array<quint16, RegisterCount> registers{};
    auto next = Clock::now();
    while (!stop) {
        const auto start = Clock::now();
        if (modbus_read_registers(client, 0, RegisterCount, registers.data()) == RegisterCount)
            latencies.push_back(Ms(Clock::now() - start).count());
        next += PollerInterval;
        std::this_thread::sleep_until(next);
    }
    modbus_close(client);
    modbus_free(client);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Options options;
    options.add("seconds", "Seconds of committing.", "S", "30");
    options.process(app);
    const auto duration = std::chrono::seconds(options.integer("seconds"));

    QTemporaryDir dir;
    createStore(storeFilePath(dir.path()));
    const quint16 brokerPort = freeLoopbackPort();
    const quint16 modbusPort = freeLoopbackPort();
    {
        QFile config(dir.filePath("mosquitto.conf"));
        config.open(QIODevice::WriteOnly);
        config.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\nlog_dest none\nuser %2\n")
                         .arg(brokerPort)
                         .arg(QString::fromLocal8Bit(getpwuid(geteuid())->pw_name))
                         .toUtf8());
    }
    Child broker;
    broker.start(QStandardPaths::findExecutable("mosquitto", {"/usr/sbin", "/usr/bin"}),
                 {"-c", dir.filePath("mosquitto.conf")});

    mosquitto_lib_init();
    Arrivals arrivals;
    mosquitto *subscriber = mosquitto_new(nullptr, true, &arrivals);
    mosquitto_connect_callback_set(subscriber, [](mosquitto *client, void *, int) {
        mosquitto_subscribe(client, nullptr, "quillfern/bench/record", 1);
    });
    mosquitto_message_callback_set(subscriber, [](mosquitto *, void *data, const mosquitto_message *message) {
        auto *arrived = static_cast<Arrivals *>(data);
        const qint64 rowid =
            rowidOf(QByteArray(static_cast<const char *>(message->payload), message->payloadlen));
        const std::lock_guard guard(arrived->lock);
        arrived->at.try_emplace(rowid, Clock::now());
    });
    while (mosquitto_connect(subscriber, "127.0.0.1", brokerPort, 60) != MOSQ_ERR_SUCCESS)
        QThread::msleep(50);
    mosquitto_loop_start(subscriber);

    Child gateway(Child::Read::ErrorLines);
    gateway.start(program("quillfern-gateway"),
                  {"--station", "bench", "--mqtt", QStringLiteral("mqtt://127.0.0.1:%1").arg(brokerPort),
                   "--modbus", QStringLiteral("127.0.0.1:%1").arg(modbusPort), dir.path()});
    if (!gateway.waitForLine("caught up", GatewayReady)) {
        std::fprintf(stderr, "the gateway did not catch up\n");
        return 1;
    }

    std::atomic<bool> stop = false;
    RegisterWatch watch;
    std::thread watcher(watchRegisters, modbusPort, std::ref(watch), std::cref(stop));
    std::vector<std::vector<double>> latencies(Pollers);
    std::vector<std::thread> pollers;
    for (int i = 0; i < Pollers; ++i)
        pollers.emplace_back(pollRegisters, modbusPort, std::ref(latencies[std::size_t(i)]), std::cref(stop));

    FakeMessageBoxes boxes;
    RecordLog log(dir.path(), boxes);
    log.openStore();
    log.listAllRecords();
    std::map<qint64, Clock::time_point> committed;
    const auto period =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / FramesPerSecond));
    const double cpuBefore = processCpu(gateway.pid()).count();
    const auto start = Clock::now();
    auto nextCommit = start;
    qint64 rowid = 0;
    while (Clock::now() - start < duration) {
        if (Clock::now() >= nextCommit) {
            log.commit({"  21.5", "  22", "  7", "  0.5"});
            committed[++rowid] = Clock::now();
            nextCommit += period;
        }
        QThread::msleep(1);
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = processCpu(gateway.pid()).count() - cpuBefore;
    QThread::msleep(1000); // the last records reach the subscriber and the registers
    stop = true;
    watcher.join();
    for (std::thread &poller : pollers)
        poller.join();

    std::vector<double> toMessage;
    std::vector<double> toRegisters;
    {
        const std::lock_guard arrivedGuard(arrivals.lock);
        const std::lock_guard watchGuard(watch.lock);
        for (const auto &[row, at] : committed) {
            if (const auto arrived = arrivals.at.find(row); arrived != arrivals.at.end())
                toMessage.push_back(Ms(arrived->second - at).count());
            // The first time the registers showed this record or a later one.
            const auto seen = watch.firstSeen.lower_bound(row);
            if (seen != watch.firstSeen.end())
                toRegisters.push_back(Ms(seen->second - at).count());
        }
    }
    std::vector<double> requests;
    for (const std::vector<double> &each : latencies)
        requests.insert(requests.end(), each.begin(), each.end());

    std::printf("%zu records committed at %.0f frames/s over %.0f s; %zu record messages arrived\n",
                committed.size(), FramesPerSecond, wall, toMessage.size());
    std::printf("commit to record message: p50 %.0f ms, p99 %.0f ms, max %.0f ms\n",
                percentile(toMessage, 0.5), percentile(toMessage, 0.99), percentile(toMessage, 1.0));
    std::printf("commit to registers: p50 %.0f ms, p99 %.0f ms, max %.0f ms\n", percentile(toRegisters, 0.5),
                percentile(toRegisters, 0.99), percentile(toRegisters, 1.0));
    std::printf("Modbus request latency, %d clients every %lld ms: p50 %.2f ms, p99 %.2f ms (%zu requests)\n",
                Pollers, qint64(PollerInterval.count()), percentile(requests, 0.5),
                percentile(requests, 0.99), requests.size());
    std::printf("gateway CPU while following: %.2f %% of a core; memory: %.1f MB resident, %.1f MB peak\n",
                100.0 * cpu / wall, double(procFigure("status", "VmRSS:", gateway.pid())) / KiBPerMB,
                double(procFigure("status", "VmHWM:", gateway.pid())) / KiBPerMB);

    gateway.stop();
    mosquitto_disconnect(subscriber);
    mosquitto_loop_stop(subscriber, false);
    mosquitto_destroy(subscriber);
    mosquitto_lib_cleanup();
    broker.stop();
    return 0;
}
