// quillfern-gateway: the station's records and alarms for the plant's
// systems, on an MQTT broker and as a Modbus TCP server.
//
//   quillfern-gateway --station NAME [--mqtt URL] [--modbus ADDRESS:PORT]
//                     [--stale-after SECONDS] [DIR]
//
// Exit status: 0 after SIGTERM or SIGINT, 1 for a store that is missing or
// not the station's (the station's error numbers), 2 for a bad command line,
// a broker that refuses the gateway or a Modbus address it cannot listen on.

#include "common/error.h"
#include "gateway/gateway.h"
#include "gateway/gatewayerror.h"
#include "store/storemaintenance.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QUrl>

#include <csignal>
#include <cstdio>
#include <optional>

#include <sys/signalfd.h>
#include <unistd.h>

namespace {

using namespace qf;

enum class ExitStatus { Stopped = 0, StoreFault = 1, Refused = 2 };

constexpr QLatin1String Usage("usage: quillfern-gateway --station NAME [--mqtt URL] [--modbus ADDRESS:PORT] "
                              "[--stale-after SECONDS] [DIR]");
constexpr QLatin1String PasswordVariable("QUILLFERN_MQTT_PASSWORD");
constexpr int MqttPort = 1883;
constexpr int MqttsPort = 8883;
constexpr int DefaultStaleAfterSeconds = 10;
// A password file holds a line; anything larger is the wrong file.
constexpr qint64 LargestPasswordFile = 4096;

void say(const QString &line)
{
    const QString stamp = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    std::fprintf(stderr, "%s quillfern-gateway: %s\n", qPrintable(stamp), qPrintable(line));
    std::fflush(stderr);
}

// What is wrong with the command line.
struct BadArguments {
    QString message;
};

// A station name is a topic level: no wildcard, no separator.
bool isTopicLevel(const QString &name)
{
    return !name.isEmpty() && !name.contains(u'/') && !name.contains(u'+') && !name.contains(u'#') &&
           !name.contains(QChar(0));
}

QByteArray passwordFrom(const QString &file)
{
    QFile source(file);
    if (!source.open(QIODevice::ReadOnly))
        throw BadArguments{
            QStringLiteral("cannot read the password file %1: %2").arg(file, source.errorString())};
    if (source.size() > LargestPasswordFile)
        throw BadArguments{QStringLiteral("the password file %1 is larger than a password").arg(file)};
    QByteArray password = source.readAll();
    const qsizetype end = password.indexOf('\n');
    return end < 0 ? password : password.left(end > 0 && password[end - 1] == '\r' ? end - 1 : end);
}

MqttSettings mqttSettings(const QString &url, const QString &station, const QString &caFile,
                          const QString &passwordFile)
{
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme();
    if (!parsed.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts")) ||
        parsed.host().isEmpty() || (!parsed.path().isEmpty() && parsed.path() != QLatin1String("/")) ||
        parsed.hasQuery() || parsed.hasFragment())
        throw BadArguments{
            QStringLiteral("--mqtt wants mqtt://[user@]host[:port] or mqtts://..., not %1").arg(url)};
    if (!parsed.password().isEmpty())
        throw BadArguments{
            QStringLiteral("no password on the command line: use --mqtt-password-file FILE or %1")
                .arg(PasswordVariable)};
    MqttSettings settings;
    settings.tls = scheme == QLatin1String("mqtts");
    settings.host = parsed.host();
    settings.port = parsed.port(settings.tls ? MqttsPort : MqttPort);
    settings.user = parsed.userName();
    settings.caFile = caFile;
    if (!caFile.isEmpty() && !settings.tls)
        throw BadArguments{QStringLiteral("--mqtt-ca needs an mqtts:// URL")};
    if (!passwordFile.isEmpty())
        settings.password = passwordFrom(passwordFile);
    else if (qEnvironmentVariableIsSet(PasswordVariable.data()))
        settings.password = qgetenv(PasswordVariable.data());
    if (settings.password && settings.user.isEmpty())
        throw BadArguments{QStringLiteral("a password needs a user name: mqtt://user@host")};
    settings.clientId = QStringLiteral("quillfern-gateway-") + station;
    settings.willTopic = "quillfern/" + station.toUtf8() + "/status";
    return settings;
}

GatewaySettings parseOptions(const QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Publishes the records and alarms of velk.mdb to an MQTT "
                                                    "broker and serves them as Modbus TCP registers."));
    parser.addHelpOption();
    const QCommandLineOption station(QStringLiteral("station"), QStringLiteral("Name of this station."),
                                     QStringLiteral("NAME"));
    const QCommandLineOption mqtt(QStringLiteral("mqtt"),
                                  QStringLiteral("Broker: mqtt://[user@]host[:port] or mqtts://..."),
                                  QStringLiteral("URL"));
    const QCommandLineOption mqttCa(QStringLiteral("mqtt-ca"),
                                    QStringLiteral("CA certificates for mqtts (default: the system's)."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption passwordFile(QStringLiteral("mqtt-password-file"),
                                          QStringLiteral("File whose first line is the broker password (or "
                                                         "set QUILLFERN_MQTT_PASSWORD)."),
                                          QStringLiteral("FILE"));
    const QCommandLineOption modbus(
        QStringLiteral("modbus"),
        QStringLiteral("Serve Modbus TCP on this address (port 1502 unless given)."),
        QStringLiteral("ADDRESS:PORT"));
    const QCommandLineOption staleAfter(QStringLiteral("stale-after"),
                                        QStringLiteral("Readings older than this are stale (default 10)."),
                                        QStringLiteral("SECONDS"), QString::number(DefaultStaleAfterSeconds));
    parser.addOptions({station, mqtt, mqttCa, passwordFile, modbus, staleAfter});
    parser.addPositionalArgument(QStringLiteral("DIR"), QStringLiteral("Directory of velk.mdb (default: this "
                                                                       "program's directory)."));
    if (!parser.parse(app.arguments()))
        throw BadArguments{parser.errorText()};
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(int(ExitStatus::Stopped));
    if (!parser.isSet(mqtt) && !parser.isSet(modbus))
        throw BadArguments{QStringLiteral("give --mqtt, --modbus or both")};
    if (!isTopicLevel(parser.value(station)))
        throw BadArguments{QStringLiteral("--station wants a name without '/', '+' or '#'")};
    if (parser.positionalArguments().size() > 1)
        throw BadArguments{QStringLiteral("one DIR at most")};
    GatewaySettings settings;
    settings.station = parser.value(station);
    const QStringList dirs = parser.positionalArguments();
    settings.storePath =
        storeFilePath(dirs.isEmpty() ? QCoreApplication::applicationDirPath() : dirs.front());
    if (parser.isSet(mqtt))
        settings.mqtt = mqttSettings(parser.value(mqtt), settings.station, parser.value(mqttCa),
                                     parser.value(passwordFile));
    else if (parser.isSet(mqttCa) || parser.isSet(passwordFile))
        throw BadArguments{QStringLiteral("--mqtt-ca and --mqtt-password-file need --mqtt")};
    if (parser.isSet(modbus)) {
        settings.modbus = ListenAddress::parse(parser.value(modbus));
        if (!settings.modbus)
            throw BadArguments{QStringLiteral("--modbus wants ADDRESS[:PORT], [IPV6][:PORT] or :PORT, not %1")
                                   .arg(parser.value(modbus))};
    }
    bool ok = false;
    const int seconds = parser.value(staleAfter).toInt(&ok);
    if (!ok || seconds <= 0)
        throw BadArguments{QStringLiteral("--stale-after wants a whole number of seconds above 0")};
    settings.staleAfter = std::chrono::seconds(seconds);
    return settings;
}

} // namespace

int main(int argc, char *argv[])
{
    // SIGTERM and SIGINT are blocked before any thread starts, so every
    // thread inherits the mask, and are read from a descriptor.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN); // a Modbus client gone while answered is no reason to die
    const int stopFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);

    QCoreApplication app(argc, argv);
    GatewaySettings settings;
    try {
        settings = parseOptions(app);
    } catch (const BadArguments &bad) {
        say(bad.message);
        say(Usage);
        return int(ExitStatus::Refused);
    }
    MqttLibrary mqttLibrary;
    try {
        Gateway gateway(settings, say);
        gateway.run(stopFd);
        say(QStringLiteral("stopped on request"));
        return int(ExitStatus::Stopped);
    } catch (const StationError &e) {
        say(QStringLiteral("error %1: %2").arg(e.error().number()).arg(e.error().description));
        return int(ExitStatus::StoreFault);
    } catch (const GatewayRefused &e) {
        say(e.message());
        return int(ExitStatus::Refused);
    }
}
