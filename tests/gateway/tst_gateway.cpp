// quillfern-gateway as a program, against a private mosquitto broker and
// real Modbus clients, over a store written by the station's own commit path:
// the record messages against the store after sequences of faults, the
// register map against the store's newest record, and clients that misbehave
// beside one that polls.

#include "alarms/alarmjournal.h"
#include "support/freeport.h"
#include "support/storefixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

#include <arpa/inet.h>
#include <modbus/modbus.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace qf;

constexpr int DeliveryTimeoutMs = 20000;
// The broker tells a dead client's last will within 1.5 keep-alives (5 s).
constexpr int WillTimeoutMs = 15000;
constexpr int ClosedTimeoutMs = 5000;
constexpr int Clients = 17;
constexpr int Polls = 20;

// A raw TCP connection to the loopback port.
int connectTo(quint16 port)
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        close(s);
        return -1;
    }
    return s;
}

bool accepts(quint16 port)
{
    const int s = connectTo(port);
    close(s);
    return s >= 0;
}

// Whether the peer closed the connection within the timeout.
bool closedByPeer(int s)
{
    pollfd watched{s, POLLIN, 0};
    char byte = 0;
    return poll(&watched, 1, ClosedTimeoutMs) == 1 && recv(s, &byte, 1, 0) <= 0;
}

// A mosquitto broker of the test's own on a free loopback port, keeping its
// sessions across a restart.
class Broker {
public:
    Broker() : m_port(freeLoopbackPort())
    {
        {
            QFile config(m_dir.filePath("mosquitto.conf"));
            QVERIFY(config.open(QIODevice::WriteOnly));
            // As root it would drop to a user that cannot write the folder.
            config.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence true\n"
                                        "persistence_location %2/\nuser %3\n")
                             .arg(m_port)
                             .arg(m_dir.path(), QString::fromLocal8Bit(getpwuid(geteuid())->pw_name))
                             .toUtf8());
        }
        start();
    }
    ~Broker() { stop(); }
    quint16 port() const { return m_port; }
    void start()
    {
        const QString broker = QStandardPaths::findExecutable("mosquitto", {"/usr/sbin", "/usr/bin"});
        QVERIFY2(!broker.isEmpty(), "mosquitto is not installed");
        m_process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_process.start(broker, {"-c", m_dir.filePath("mosquitto.conf")});
        QVERIFY(m_process.waitForStarted());
        QTRY_VERIFY2(accepts(m_port), m_process.readAllStandardError().constData());
    }
    void stop()
    {
        m_process.terminate();
        m_process.waitForFinished();
    }
    // Saves its sessions (the subscriber's among them) now.
    void save()
    {
        kill(pid_t(m_process.processId()), SIGUSR1);
        QTRY_VERIFY(QFile::exists(m_dir.filePath("mosquitto.db")));
    }
    // Stops answering: what is sent to it waits unacknowledged.
    void freeze() { kill(pid_t(m_process.processId()), SIGSTOP); }
    // Dies with what it was sent since it froze.
    void crash() { m_process.kill(), m_process.waitForFinished(); }

private:
    QTemporaryDir m_dir;
    quint16 m_port;
    QProcess m_process;
};

struct Message {
    QByteArray topic;
    QByteArray payload;
};

// Subscribes to every topic of the gateway with a session the broker keeps
// while it is away, and collects what arrives.
class Subscriber {
public:
    explicit Subscriber(quint16 port)
        : m_client(mosquitto_new(QUuid::createUuid().toByteArray().constData(), false, this))
    {
        mosquitto_connect_callback_set(m_client, [](mosquitto *client, void *, int) {
            mosquitto_subscribe(client, nullptr, "quillfern/#", 1);
        });
        mosquitto_subscribe_callback_set(m_client, [](mosquitto *, void *self, int, int, const int *) {
            static_cast<Subscriber *>(self)->m_subscribed = true;
        });
        mosquitto_message_callback_set(
            m_client, [](mosquitto *, void *self, const mosquitto_message *message) {
                auto *subscriber = static_cast<Subscriber *>(self);
                const std::lock_guard lock(subscriber->m_lock);
                subscriber->m_messages.push_back(
                    {message->topic,
                     QByteArray(static_cast<const char *>(message->payload), message->payloadlen)});
            });
        mosquitto_reconnect_delay_set(m_client, 1, 1, false);
        mosquitto_connect_async(m_client, "127.0.0.1", port, 60);
        mosquitto_loop_start(m_client);
        QTRY_VERIFY_WITH_TIMEOUT(m_subscribed, DeliveryTimeoutMs);
    }
    ~Subscriber()
    {
        mosquitto_disconnect(m_client);
        mosquitto_loop_stop(m_client, false);
        mosquitto_destroy(m_client);
    }
    // The payloads that came on the topic, in order.
    QList<QByteArray> on(const QByteArray &topic)
    {
        const std::lock_guard lock(m_lock);
        QList<QByteArray> payloads;
        for (const Message &message : m_messages) {
            if (message.topic == topic)
                payloads.append(message.payload);
        }
        return payloads;
    }
    QByteArray last(const QByteArray &topic)
    {
        const QList<QByteArray> payloads = on(topic);
        return payloads.isEmpty() ? QByteArray("(none)") : payloads.last();
    }

private:
    mosquitto *m_client;
    std::atomic<bool> m_subscribed = false;
    std::mutex m_lock;
    std::vector<Message> m_messages;
};

const QStringList RecordMembers{"generation", "rowid", "sr_no", "time", "temp1", "temp2", "temp3", "temp4"};

// A record message as the store says it must read: members in order, the
// stamp with the offset of the zone, numbers as JSON reads them back.
QString expectedRecord(int generation, const QStringList &row)
{
    const QDateTime local = QDateTime::fromString(row[2], "yyyy-MM-dd HH:mm:ss");
    QJsonObject fields{{"generation", generation}, {"rowid", row[0].toLongLong()}};
    const auto text = [](const QString &value) { return value == "NULL" ? QJsonValue() : QJsonValue(value); };
    const auto number = [](const QString &value) {
        bool ok = false;
        const double number = value.toDouble(&ok);
        return ok && std::isfinite(number) ? QJsonValue(number) : QJsonValue();
    };
    const QStringList &members = RecordMembers;
    fields["sr_no"] = text(row[1]);
    fields["time"] =
        local.isValid() ? local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate) : QJsonValue();
    for (int sensor = 0; sensor < 4; ++sensor)
        fields[members[4 + sensor]] = number(row[3 + sensor]);
    QStringList shown;
    for (const QString &member : members)
        shown.append(member + '=' + QJsonDocument(QJsonArray{fields[member]}).toJson(QJsonDocument::Compact));
    return shown.join(' ');
}

// A received message in the same form, its members in the order they came.
QString receivedRecord(const QByteArray &payload)
{
    QJsonParseError error;
    const QJsonObject fields = QJsonDocument::fromJson(payload, &error).object();
    if (error.error != QJsonParseError::NoError)
        return "not JSON: " + QString::fromUtf8(payload);
    QStringList shown;
    // QJsonObject sorts its keys: the order is read off the text.
    QStringList members = RecordMembers;
    std::sort(members.begin(), members.end(), [&](const QString &a, const QString &b) {
        return payload.indexOf('"' + a.toUtf8() + "\":") < payload.indexOf('"' + b.toUtf8() + "\":");
    });
    for (const QString &member : members)
        shown.append(member + '=' + QJsonDocument(QJsonArray{fields[member]}).toJson(QJsonDocument::Compact));
    return shown.join(' ');
}

// The gateway program beside a store.
class GatewayProcess {
public:
    GatewayProcess(const QString &dir, const QStringList &options)
    {
        m_process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_process.start(QString::fromLocal8Bit(qgetenv("QF_BIN_DIR")) + "/quillfern-gateway",
                        QStringList{"--station", "tst"} + options + QStringList{dir});
        QVERIFY(m_process.waitForStarted());
    }
    ~GatewayProcess() { m_process.kill(), m_process.waitForFinished(); }
    bool said(const QString &text)
    {
        m_said += QString::fromLocal8Bit(m_process.readAllStandardError());
        return m_said.contains(text);
    }
    const QString &output() const { return m_said; }
    // SIGTERM: status 0.
    void terminate()
    {
        m_process.terminate();
        QVERIFY(m_process.waitForFinished());
        QCOMPARE(std::pair(m_process.exitStatus(), m_process.exitCode()), std::pair(QProcess::NormalExit, 0));
    }
    void kill() { m_process.kill(), m_process.waitForFinished(); }

private:
    QProcess m_process;
    QString m_said;
};

// A Modbus TCP client of libmodbus.
class ModbusClient {
public:
    explicit ModbusClient(quint16 port) : m_context(modbus_new_tcp("127.0.0.1", port))
    {
        modbus_set_response_timeout(m_context, 2, 0);
        m_connected = modbus_connect(m_context) == 0;
    }
    ~ModbusClient() { modbus_close(m_context), modbus_free(m_context); }
    bool connected() const { return m_connected; }
    // The registers (function 3, or 4), nothing on an error (errno says which).
    std::optional<std::vector<quint16>> registers(int first, int count, bool input = false)
    {
        std::vector<quint16> values(static_cast<std::size_t>(count));
        const int read = input ? modbus_read_input_registers(m_context, first, count, values.data())
                               : modbus_read_registers(m_context, first, count, values.data());
        return read == count ? std::optional(values) : std::nullopt;
    }
    std::optional<std::vector<quint8>> bits(int first, int count, bool input = false)
    {
        std::vector<quint8> values(static_cast<std::size_t>(count));
        const int read = input ? modbus_read_input_bits(m_context, first, count, values.data())
                               : modbus_read_bits(m_context, first, count, values.data());
        return read == count ? std::optional(values) : std::nullopt;
    }
    modbus_t *context() const { return m_context; }

private:
    modbus_t *m_context;
    bool m_connected = false;
};

// A store with the station's record log and the gateway beside it, the
// record messages it must have published.
class Station {
public:
    Station() : m_broker(std::make_unique<Broker>()), m_modbusPort(freeLoopbackPort())
    {
        m_store.create(5); // before the gateway's first run: never published
        m_log.emplace(m_store);
        m_subscriber = std::make_unique<Subscriber>(m_broker->port());
    }
    Subscriber &subscriber() { return *m_subscriber; }
    StoreFixture &store() { return m_store; }
    quint16 modbusPort() const { return m_modbusPort; }
    GatewayProcess &gateway() { return *m_gateway; }
    void startGateway(const QStringList &extra = {})
    {
        m_gateway.reset();
        m_gateway = std::make_unique<GatewayProcess>(
            m_store.dir(), QStringList{"--mqtt", QStringLiteral("mqtt://127.0.0.1:%1").arg(m_broker->port()),
                                       "--modbus", QStringLiteral("127.0.0.1:%1").arg(m_modbusPort)} +
                               extra);
        QTRY_VERIFY2_WITH_TIMEOUT(m_gateway->said("caught up"), qPrintable(m_gateway->output()),
                                  DeliveryTimeoutMs);
        if (m_firstRow < 0)
            m_firstRow = m_store.column("SELECT coalesce(max(rowid), 0) FROM log").front().toLongLong() + 1;
    }

    // Steps: gateway, commit:N, odd (a record with texts that are no JSON),
    // delete, term, kill, offline (the broker says so), brokerstop,
    // brokerstart, brokersave, brokerfreeze, brokercrash, registers (the
    // gateway shows the newest record), said:TEXT, once (every record exactly once, in order),
    // check (the same, a repeat of one allowed).
    void step(const QString &step, const QString &argument)
    {
        if (step == "gateway")
            startGateway();
        else if (step == "commit")
            for (int i = 0; i < argument.toInt(); ++i)
                m_log->log.commit({"  " + QString::number(i * 1.25), "  -3.25", "  7", "  1e999"});
        else if (step == "odd")
            m_store.sql({"INSERT INTO log VALUES ('a\"b\\' || char(10, 1, 0x2028) || 'c', 'no time', "
                         "'12.5', 'text', NULL, 0.1)"});
        else if (step == "delete") {
            m_published += expected();
            m_log->boxes.answerNext(MsgAnswer::Yes);
            m_log->log.confirmDeleteAll();
            ++m_generation;
            m_firstRow = 1;
        } else if (step == "term")
            m_gateway->terminate();
        else if (step == "kill")
            m_gateway->kill();
        else if (step == "offline")
            QTRY_COMPARE_WITH_TIMEOUT(m_subscriber->last("quillfern/tst/status"), QByteArray("offline"),
                                      WillTimeoutMs);
        else if (step == "brokerstop")
            m_broker->stop();
        else if (step == "brokerstart")
            m_broker->start();
        else if (step == "brokersave")
            m_broker->save();
        else if (step == "brokerfreeze")
            m_broker->freeze();
        else if (step == "brokercrash")
            m_broker->crash();
        else if (step == "registers") { // the gateway has read (and sent) every record
            ModbusClient client(m_modbusPort);
            const quint32 newest = m_store.column("SELECT max(rowid) FROM log").front().toUInt();
            QTRY_COMPARE(client.registers(12, 2).value_or(std::vector<quint16>(2)),
                         (std::vector<quint16>{quint16(newest >> 16), quint16(newest)}));
        } else if (step == "said")
            QTRY_VERIFY2_WITH_TIMEOUT(m_gateway->said(argument), qPrintable(m_gateway->output()),
                                      DeliveryTimeoutMs);
        else if (step == "once")
            QTRY_COMPARE_WITH_TIMEOUT(received(false), m_published + expected(), DeliveryTimeoutMs);
        else if (step == "check")
            QTRY_COMPARE_WITH_TIMEOUT(received(true), m_published + expected(), DeliveryTimeoutMs);
        else
            QFAIL(qPrintable("unknown step " + step));
    }

private:
    QStringList expected() const
    {
        QStringList records;
        for (const QString &row : m_store.column(
                 QStringLiteral("SELECT rowid, \"Sr No\", TimeAndDate, Temp1, Temp2, Temp3, Temp4 FROM log "
                                "WHERE rowid >= %1 ORDER BY rowid")
                     .arg(m_firstRow)))
            records.append(expectedRecord(m_generation, row.split('|')));
        return records;
    }
    // Every record message; with dropRepeats, a message that repeats one
    // of the same generation and rowid is left out, as a subscriber does.
    QStringList received(bool dropRepeats) const
    {
        QStringList records;
        QSet<std::pair<int, qint64>> seen;
        for (const QByteArray &payload : m_subscriber->on("quillfern/tst/record")) {
            const QJsonObject fields = QJsonDocument::fromJson(payload).object();
            const std::pair key(fields["generation"].toInt(), fields["rowid"].toInteger());
            if (dropRepeats && seen.contains(key))
                continue;
            seen.insert(key);
            records.append(receivedRecord(payload));
        }
        return records;
    }

    std::unique_ptr<Broker> m_broker;
    quint16 m_modbusPort;
    StoreFixture m_store;
    std::optional<ListedLog> m_log;
    std::unique_ptr<Subscriber> m_subscriber;
    std::unique_ptr<GatewayProcess> m_gateway;
    QStringList m_published; // records of the generations deleted so far
    qint64 m_firstRow = -1;  // the first record published of this generation
    int m_generation = 1;
};

float floatAt(const std::vector<quint16> &registers, int first)
{
    return std::bit_cast<float>(quint32(registers[std::size_t(first)]) << 16 |
                                registers[std::size_t(first) + 1]);
}

quint32 u32At(const std::vector<quint16> &registers, int first)
{
    return quint32(registers[std::size_t(first)]) << 16 | registers[std::size_t(first) + 1];
}

// The alarm service's journal, written by its own writer: HH of sensor 2
// raised and unacknowledged; L of sensor 3 shelved while beyond its limit.
void writeAlarmJournal(const StoreFixture &store, RealTime raisedAt)
{
    AlarmJournal journal(alarmJournalPath(store.path()), AlarmJournal::Open::CreateIfMissing);
    AlarmEngine::Snapshot snapshot;
    const AlarmId raised{2, AlarmKind::HighHigh};
    snapshot.statuses[alarmIndex(raised)] = {AlarmState::Unacknowledged, true, {}, {}, 99.5, 6, raisedAt};
    snapshot.statuses[alarmIndex({3, AlarmKind::Low})] = {
        AlarmState::Shelved, true, {}, raisedAt, -1.0, 6, raisedAt};
    std::vector<AlarmEvent> events{{0, raisedAt, raised, AlarmEventKind::Raised, 99.5, 6, {}}};
    AlarmJournal::Transaction transaction(journal);
    journal.write(events, snapshot, "mark");
    transaction.commit();
}

} // namespace

class TestGateway : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { mosquitto_lib_init(); }
    void cleanupTestCase() { mosquitto_lib_cleanup(); }

    void recordMessages_data()
    {
        QTest::addColumn<QString>("steps"); // see Station::step
        QTest::newRow("every record once in order, untrusted texts, a delete-all")
            << "gateway commit:20 odd commit:5 once delete commit:3 once term offline";
        QTest::newRow("broker stopped and started mid-run")
            << "gateway commit:10 check brokerstop commit:20 said:unavailable brokerstart commit:5 check "
               "term";
        // The records sent to the frozen broker are lost with it: the
        // gateway's place must not have moved past them.
        QTest::newRow("broker crashed before it acknowledged")
            << "gateway commit:5 check brokersave brokerfreeze commit:10 registers term brokercrash "
               "brokerstart "
               "gateway check term";
        QTest::newRow("records stored while the gateway was down, a kill -9")
            << "gateway commit:5 check term commit:7 gateway check kill offline commit:4 gateway check term";
    }
    void recordMessages()
    {
        QFETCH(QString, steps);
        Station station;
        for (const QString &step : steps.split(' ')) {
            station.step(step.section(':', 0, 0), step.section(':', 1));
            if (QTest::currentTestFailed())
                QFAIL(qPrintable("at step " + step));
        }
    }

    void registerMapAgainstStore()
    {
        Station station;
        station.startGateway({"--stale-after", "3"});
        const QString now = QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss");
        station.store().sql({"INSERT INTO log VALUES ('9', '" + now + "', 21.5, NULL, 3276.8, -3276.7)"});
        const qint64 rowid = station.store().column("SELECT max(rowid) FROM log").front().toLongLong();
        ModbusClient client(station.modbusPort());
        QVERIFY(client.connected());
        QTRY_COMPARE(client.registers(12, 2).value_or(std::vector<quint16>(2)),
                     (std::vector<quint16>{0, quint16(rowid)}));
        const std::vector<quint16> holding = *client.registers(0, 19);
        QCOMPARE(*client.registers(0, 18, true), std::vector<quint16>(holding.begin(), holding.begin() + 18));
        QCOMPARE(floatAt(holding, 0), 21.5f);
        QVERIFY(std::isnan(floatAt(holding, 2)));
        QCOMPARE(floatAt(holding, 4), 3276.8f);
        QCOMPARE(std::vector<qint16>(holding.begin() + 8, holding.begin() + 12),
                 (std::vector<qint16>{215, -32768, -32768, -32767}));
        QCOMPARE(holding[14], quint16(1));
        QCOMPARE(qint64(u32At(holding, 15)),
                 QDateTime::fromString(now, "yyyy-MM-dd HH:mm:ss").toSecsSinceEpoch());
        QCOMPARE(holding[17], quint16(0b0011)); // fresh, store readable, no alarm
        QTRY_VERIFY(client.registers(18, 1).value_or(std::vector<quint16>{holding[18]})[0] != holding[18]);
        QTRY_COMPARE_WITH_TIMEOUT(client.registers(17, 1).value_or(std::vector<quint16>{0})[0],
                                  quint16(0b0010),
                                  DeliveryTimeoutMs); // stale
        QCOMPARE(*client.bits(0, 16), std::vector<quint8>(16, 0));

        const QDateTime raisedAt =
            QDateTime::fromString("2026-12-07 18:02:03.250", "yyyy-MM-dd HH:mm:ss.zzz");
        writeAlarmJournal(station.store(), RealTime(std::chrono::milliseconds(raisedAt.toMSecsSinceEpoch())));
        std::vector<quint8> alarmBits(16, 0);
        alarmBits[4] = 1; // sensor 2, HH
        QTRY_COMPARE(client.bits(0, 16).value_or(std::vector<quint8>{}), alarmBits);
        QCOMPARE(*client.bits(0, 16, true), alarmBits);
        QCOMPARE(client.registers(17, 1)->at(0), quint16(0b1110));
        QTRY_COMPARE(station.subscriber().on("quillfern/tst/alarm").size(), 1);
        const QJsonObject event =
            QJsonDocument::fromJson(station.subscriber().on("quillfern/tst/alarm")[0]).object();
        QCOMPARE(event["time"].toString(),
                 raisedAt.toOffsetFromUtc(raisedAt.offsetFromUtc()).toString(Qt::ISODateWithMs));
        QCOMPARE(std::pair(event["event"].toString(), event["value"].toDouble()),
                 std::pair(QString("raised"), 99.5));
        const QJsonArray summary =
            QJsonDocument::fromJson(station.subscriber().last("quillfern/tst/alarms")).array();
        QCOMPARE(summary.size(), 2); // the shelved one listed, its bit 0
        QCOMPARE(summary[0]["sensor"].toInt(), 2);

        // Read-only, and nothing outside the map.
        QCOMPARE(modbus_write_register(client.context(), 0, 1), -1);
        QCOMPARE(errno, EMBXILFUN);
        QCOMPARE(modbus_write_bit(client.context(), 0, 1), -1);
        QCOMPARE(errno, EMBXILFUN);
        QVERIFY(!client.registers(18, 2));
        QCOMPARE(errno, EMBXILADD);
        QVERIFY(!client.bits(16, 1, true));
        QCOMPARE(errno, EMBXILADD);
    }

    void misbehavingClientsBesideAPollingOne()
    {
        StoreFixture store;
        store.create(3);
        const quint16 port = freeLoopbackPort();
        GatewayProcess gateway(store.dir(), {"--modbus", QStringLiteral("127.0.0.1:%1").arg(port)});
        QTRY_VERIFY2(gateway.said("serving Modbus"), qPrintable(gateway.output()));
        const int silent = connectTo(port);
        const int halfRequest = connectTo(port);
        const char half[] = {0, 1, 0, 0, 0, 6, 1, 3}; // a read of registers, cut after its function code
        QCOMPARE(send(halfRequest, half, sizeof half, 0), ssize_t(sizeof half));
        const char notModbus[] = "GET / HTTP/1.0\r\n\r\n";
        const char oversized[] = {0, 1, 0, 0, char(0xff), char(0xff), 1, 3};
        for (const auto &[bytes, size] :
             {std::pair(notModbus, sizeof notModbus), std::pair(oversized, sizeof oversized)}) {
            const int malformed = connectTo(port);
            QCOMPARE(send(malformed, bytes, size, 0), ssize_t(size));
            QVERIFY2(closedByPeer(malformed), bytes);
            close(malformed);
        }
        std::vector<std::unique_ptr<ModbusClient>> clients;
        for (int i = 0; i < Clients; ++i)
            clients.push_back(std::make_unique<ModbusClient>(port));
        for (int poll = 0; poll < Polls; ++poll) {
            for (const auto &client : clients)
                QVERIFY2(client->registers(0, 19), modbus_strerror(errno));
        }
        QCOMPARE(u32At(*clients.front()->registers(12, 2), 0), 3U);
        close(silent);
        close(halfRequest);
        gateway.terminate();
    }
};

QTEST_GUILESS_MAIN(TestGateway)
#include "tst_gateway.moc"
