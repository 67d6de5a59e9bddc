// quillfern-alarms: the station's alarms, beside it. Runs the alarm service
// in the foreground, or one command on its journal.

#include "alarms/alarmjournal.h"
#include "alarms/alarmservice.h"
#include "alarms/alarmtext.h"
#include "alarms/journalreader.h"
#include "alarms/limitsfile.h"
#include "common/error.h"
#include "store/recordschema.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

using namespace qf;

enum class ExitStatus { Done = 0, StoreFault = 1, Refused = 2 };

constexpr QLatin1String ListCommand("list");
constexpr QLatin1String AckCommand("ack");
constexpr QLatin1String ShelveCommand("shelve");
constexpr QLatin1String LogCommand("log");
constexpr QLatin1String FromOption("--from");
constexpr QLatin1String ToOption("--to");

const char *const Usage =
    "usage: quillfern-alarms [DIR]                  run the alarm service in the foreground\n"
    "       quillfern-alarms list [DIR]             print the current alarms\n"
    "       quillfern-alarms ack SENSOR|all [DIR]   acknowledge\n"
    "       quillfern-alarms shelve SENSOR MINUTES [DIR]  shelve (0 minutes unshelves; at most 480)\n"
    "       quillfern-alarms log [--from TIME] [--to TIME] [DIR]  the journal as CSV\n"
    "SENSOR: 1 to 4, or station (its silent alarm); one alarm of it as 1:HH, 1:H, 1:L, 1:LL.\n"
    "TIME: local time, 'YYYY-MM-DD[ HH:MM[:SS[.mmm]]]'; --from includes it, --to does not.\n"
    "DIR: the directory of velk.mdb and quillfern.ini (default: this program's directory).\n"
    "Exit status: 0 done (the service: stopped by SIGTERM or SIGINT), 1 the store or the\n"
    "journal cannot be used, 2 a bad command line or quillfern.ini.\n";

int exitWith(ExitStatus status)
{
    return int(status);
}

QString nowText()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

void say(const QString &line)
{
    std::fprintf(stderr, "%s quillfern-alarms: %s\n", qPrintable(nowText()), qPrintable(line));
    std::fflush(stderr);
}

void print(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
}

int refuse(const QString &why)
{
    std::fprintf(stderr, "quillfern-alarms: %s\n%s", qPrintable(why), Usage);
    return exitWith(ExitStatus::Refused);
}

int storeFault(const Error &error)
{
    say(QStringLiteral("error %1: %2").arg(error.number()).arg(error.description));
    return exitWith(ExitStatus::StoreFault);
}

RealTime realNow()
{
    return std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now());
}

struct Place {
    QString store;
    QString limits;
    QString journal;
};

Place placeOf(const QStringList &dirs)
{
    const QDir dir(dirs.isEmpty() ? QCoreApplication::applicationDirPath() : dirs.front());
    const QString store = dir.filePath(schema::StoreFileName);
    return {store, dir.filePath(LimitsFileName), alarmJournalPath(store)};
}

// The limits for naming alarms in a listing: a bad file is said, not fatal.
AlarmLimits namingLimits(const Place &place)
{
    try {
        return readLimitsFile(place.limits);
    } catch (const StationError &e) {
        say(e.error().description);
        return AlarmLimits::defaults();
    }
}

// SIGTERM and SIGINT end the event loop (exit status 0).
int runService(QCoreApplication &app, const Place &place, int stopFd)
{
    AlarmService service(place.store, place.limits, say);
    QSocketNotifier stop(stopFd, QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &app, [&app] {
        say(QStringLiteral("stopping on request"));
        app.exit(exitWith(ExitStatus::Done));
    });
    QObject::connect(&service, &AlarmService::failed, &app,
                     [&app](const Error &error) { app.exit(storeFault(error)); });
    try {
        service.start();
    } catch (const StationError &e) {
        if (e.error().code == ErrorCode::LimitsInvalid) {
            say(e.error().description);
            return exitWith(ExitStatus::Refused);
        }
        return storeFault(e.error());
    }
    return app.exec();
}

int list(const Place &place)
{
    AlarmJournalReader journal(place.journal);
    print(alarmTable(journal.states(), namingLimits(place)).join(QLatin1Char('\n')) + QLatin1Char('\n'));
    return exitWith(ExitStatus::Done);
}

int operate(const Place &place, const std::function<void(AlarmEngine &)> &act, const QString &none)
{
    AlarmJournal journal(place.journal, AlarmJournal::Open::Existing);
    const AlarmLimits limits = namingLimits(place);
    const std::vector<AlarmEvent> events = journal.operate(limits, act, realNow());
    for (const AlarmEvent &event : events)
        print(journalTimeText(event.time) + QLatin1Char(' ') + eventLine(event, limits) + QLatin1Char('\n'));
    if (events.empty())
        print(none + QLatin1Char('\n'));
    return exitWith(ExitStatus::Done);
}

int log(QStringList arguments)
{
    std::optional<RealTime> from;
    std::optional<RealTime> to;
    while (arguments.size() >= 2 && (arguments.front() == FromOption || arguments.front() == ToOption)) {
        const std::optional<RealTime> time = parseJournalTime(arguments.at(1));
        if (!time)
            return refuse(QStringLiteral("\"%1\" is no time").arg(arguments.at(1)));
        (arguments.front() == FromOption ? from : to) = time;
        arguments.remove(0, 2);
    }
    if (arguments.size() > 1 || (!arguments.isEmpty() && arguments.front().startsWith(QLatin1Char('-'))))
        return refuse(QStringLiteral("unexpected \"%1\"").arg(arguments.front()));
    AlarmJournalReader journal(placeOf(arguments).journal);
    const QByteArray csv = eventsCsv(journal.eventsBetween(from, to));
    std::fwrite(csv.constData(), 1, std::size_t(csv.size()), stdout);
    return exitWith(ExitStatus::Done);
}

int command(const QString &name, QStringList arguments)
{
    if (name == LogCommand)
        return log(arguments);
    const int needed = name == ShelveCommand ? 2 : name == AckCommand ? 1 : 0;
    if (arguments.size() < needed || arguments.size() > needed + 1)
        return refuse(QStringLiteral("%1 takes %2 argument(s) before DIR").arg(name).arg(needed));
    const Place place = placeOf(arguments.mid(needed));
    if (name == ListCommand)
        return list(place);
    const std::optional<AlarmSelector> selector = parseSelector(arguments.front(), name == AckCommand);
    if (!selector)
        return refuse(QStringLiteral("\"%1\" names no sensor or alarm").arg(arguments.front()));
    const QString user = loginName();
    if (name == AckCommand)
        return operate(
            place, [&](AlarmEngine &engine) { engine.acknowledge(*selector, user, realNow()); },
            QStringLiteral("nothing to acknowledge"));
    const std::optional<std::chrono::minutes> minutes = parseShelveMinutes(arguments.at(1));
    if (!minutes)
        return refuse(QStringLiteral("\"%1\" is not 0 to 480 minutes").arg(arguments.at(1)));
    return operate(
        place, [&](AlarmEngine &engine) { engine.shelve(*selector, *minutes, user, realNow()); },
        QStringLiteral("nothing to shelve or unshelve"));
}

// Blocks the stop signals (before any thread starts, so that all inherit
// the mask) and returns a descriptor that becomes readable when one comes.
int stopSignalFd()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    return signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

} // namespace

int main(int argc, char *argv[])
{
    const int stopFd = stopSignalFd();
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    if (!arguments.isEmpty() && (arguments.front() == QLatin1String("--help") || arguments.front() == "-h")) {
        std::fputs(Usage, stdout);
        return exitWith(ExitStatus::Done);
    }
    const QStringList commands{ListCommand, AckCommand, ShelveCommand, LogCommand};
    try {
        if (!arguments.isEmpty() && commands.contains(arguments.front())) {
            const QString name = arguments.takeFirst();
            return command(name, arguments);
        }
        if (arguments.size() > 1 || (!arguments.isEmpty() && arguments.front().startsWith(QLatin1Char('-'))))
            return refuse(QStringLiteral("unexpected \"%1\"").arg(arguments.back()));
        if (stopFd < 0)
            return storeFault({ErrorCode::StoreFailed, QStringLiteral("no signal descriptor")});
        return runService(app, placeOf(arguments), stopFd);
    } catch (const StationError &e) {
        return storeFault(e.error());
    }
}
