// quillfern-uplink: forwards the records of a station's velk.mdb, and the
// events of its alarm journal velk.mdb.alarms, to tables of the plant's
// PostgreSQL database, each exactly once.
//
//   quillfern-uplink --station NAME --db CONNINFO [DIR]
//
// Exit status: 0 after SIGTERM or SIGINT, 1 for a store that is missing or
// not the station's, 2 for a bad command line, a bad connection string (or
// one with a password in it) or a database that refuses the uplink for good.

#include "alarms/alarmjournal.h"
#include "common/error.h"
#include "store/storemaintenance.h"
#include "uplink/alarmjournalsource.h"
#include "uplink/centraldatabase.h"
#include "uplink/forwarder.h"
#include "uplink/logsource.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>

#include <csignal>
#include <cstdio>
#include <optional>

using namespace qf;

namespace {

enum class ExitStatus { Stopped = 0, StoreFault = 1, Refused = 2 };

void say(const QString &line)
{
    const QString stamp = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    std::fprintf(stderr, "%s quillfern-uplink: %s\n", qPrintable(stamp), qPrintable(line));
    std::fflush(stderr);
}

// SIGTERM and SIGINT stay blocked and are taken while pausing, so a batch
// in flight always finishes. Once taken, every later pause says stop.
class StopSignals {
public:
    StopSignals()
    {
        sigemptyset(&m_set);
        sigaddset(&m_set, SIGTERM);
        sigaddset(&m_set, SIGINT);
        pthread_sigmask(SIG_BLOCK, &m_set, nullptr);
    }

    bool pause(std::chrono::milliseconds duration)
    {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration);
        const timespec timeout{seconds.count(), long(std::chrono::nanoseconds(duration - seconds).count())};
        if (!m_stopped && sigtimedwait(&m_set, nullptr, &timeout) > 0) {
            m_stopped = true;
            say(QStringLiteral("stopping on request"));
        }
        return !m_stopped;
    }

private:
    sigset_t m_set{};
    bool m_stopped = false;
};

struct Options {
    QString station;
    QString conninfo;
    QString dir;
};

std::optional<Options> parseOptions(const QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Forwards every record of velk.mdb to PostgreSQL."));
    parser.addHelpOption();
    const QCommandLineOption station(QStringLiteral("station"), QStringLiteral("Name of this station."),
                                     QStringLiteral("NAME"));
    const QCommandLineOption db(QStringLiteral("db"), QStringLiteral("libpq connection string or URI."),
                                QStringLiteral("CONNINFO"));
    parser.addOptions({station, db});
    parser.addPositionalArgument(QStringLiteral("DIR"), QStringLiteral("Directory of velk.mdb (default: this "
                                                                       "program's directory)."));
    parser.process(app);
    if (parser.value(station).isEmpty() || !parser.isSet(db) || parser.positionalArguments().size() > 1) {
        say(QStringLiteral("usage: quillfern-uplink --station NAME --db CONNINFO [DIR]"));
        return std::nullopt;
    }
    const QStringList dirs = parser.positionalArguments();
    return Options{parser.value(station), parser.value(db),
                   dirs.isEmpty() ? QCoreApplication::applicationDirPath() : dirs.front()};
}

} // namespace

int main(int argc, char *argv[])
{
    StopSignals stopSignals; // before any thread starts, so every thread inherits the mask
    QCoreApplication app(argc, argv);
    const std::optional<Options> options = parseOptions(app);
    if (!options)
        return int(ExitStatus::Refused);
    try {
        qf::CentralDatabase central(options->conninfo);
        std::vector<std::unique_ptr<qf::UplinkSource>> sources;
        const QString store = storeFilePath(options->dir);
        sources.push_back(std::make_unique<qf::LogSource>(store, options->station, say));
        sources.push_back(
            std::make_unique<qf::AlarmJournalSource>(qf::alarmJournalPath(store), options->station, say));
        qf::Forwarder forwarder(
            central, options->station, std::move(sources),
            [&stopSignals](std::chrono::milliseconds d) { return stopSignals.pause(d); }, say);
        forwarder.run();
        return int(ExitStatus::Stopped);
    } catch (const StationError &e) {
        say(QStringLiteral("error %1: %2").arg(e.error().number()).arg(e.error().description));
        return int(ExitStatus::StoreFault);
    } catch (const qf::CentralError &e) {
        say(QStringLiteral("PostgreSQL refuses the uplink: %1").arg(e.message()));
        return int(ExitStatus::Refused);
    }
}
