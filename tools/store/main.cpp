// quillfern-store: makes, fills, exports, checks, repairs and backs up the station's log store.

#include "common/error.h"
#include "store/storefiles.h"
#include "store/storelock.h"
#include "store/storemaintenance.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <cstdio>

using namespace qf;

namespace {

namespace Exit {
constexpr int Ok = 0;
constexpr int Usage = 1;         // also: a station or another store tool writes the store
constexpr int StoreUnusable = 2; // missing, not a database, or locked
constexpr int AlreadyExists = 3;
constexpr int CheckFailed = 4;
constexpr int Failed = 5;
} // namespace Exit

const char *const Description =
    "Makes, fills, exports, checks, repairs and backs up the station's log store velk.mdb.\n"
    "\n"
    "Commands (DIR defaults to this program's own directory):\n"
    "  create [DIR]   make DIR/velk.mdb with an empty table log; refuses when it exists\n"
    "  export [DIR]   write the records as CSV to standard output\n"
    "  fill N [DIR]   append N synthetic records\n"
    "  check [DIR]    run the integrity check, check table log, its fields and the record\n"
    "                 count the station keeps beside it, and prove on a scratch copy of\n"
    "                 the schema that the station can list and append records; reads\n"
    "                 only: no file of the store is written or made, also while a station\n"
    "                 logs\n"
    "  repair [DIR]   mend what the station mends at its start (an unfinished transaction,\n"
    "                 a write-ahead log left behind) and rebuild the record count\n"
    "  backup DEST [DIR]  copy the store into the new file DEST (not a symbolic link),\n"
    "                 also while a station logs; the copy gets its name DEST only when\n"
    "                 it is whole on the disk\n"
    "\n"
    "create, fill and repair refuse while a station (or another store tool) writes the\n"
    "store.\n"
    "\n"
    "Exit status:\n"
    "  0  done; for check: the store is sound\n"
    "  1  wrong command line, or the store is in use by a station or store tool\n"
    "  2  the store cannot be used: missing, not a database, or locked\n"
    "  3  create: the store file already exists (nothing was changed)\n"
    "  4  check: problems were found (listed on standard error)\n"
    "  5  any other failure";

void printError(const QString &text)
{
    QTextStream(stderr) << "quillfern-store: " << text << Qt::endl;
}

int storeErrorExit(const StationError &e)
{
    printError(QStringLiteral("%1 (error %2)").arg(e.error().description).arg(e.error().number()));
    switch (e.error().code) {
    case ErrorCode::StoreInUse:
        return Exit::Usage;
    case ErrorCode::StoreMissing:
    case ErrorCode::StoreNotDatabase:
    case ErrorCode::StoreBusy:
    case ErrorCode::TableMissing:
    case ErrorCode::FieldMissing:
        return Exit::StoreUnusable;
    default:
        return Exit::Failed;
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillfern-store"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(Description));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("create, export, fill, check, repair or backup"));
    parser.addPositionalArgument(QStringLiteral("args"),
                                 QStringLiteral("N for fill or DEST for backup, then DIR"),
                                 QStringLiteral("[N|DEST] [DIR]"));
    parser.process(app);

    QStringList args = parser.positionalArguments();
    if (args.isEmpty()) {
        printError(QStringLiteral("no command given; see --help"));
        return Exit::Usage;
    }
    const QString command = args.takeFirst();
    qint64 count = 0;
    if (command == QLatin1String("fill")) {
        bool ok = false;
        count = args.isEmpty() ? -1 : args.takeFirst().toLongLong(&ok);
        if (!ok || count < 0) {
            printError(QStringLiteral("fill needs a record count N >= 0"));
            return Exit::Usage;
        }
    }
    QString dest;
    if (command == QLatin1String("backup")) {
        if (args.isEmpty() || args.first().isEmpty()) {
            printError(QStringLiteral("backup needs a destination file DEST"));
            return Exit::Usage;
        }
        dest = args.takeFirst();
    }
    if (args.size() > 1) {
        printError(QStringLiteral("too many arguments; see --help"));
        return Exit::Usage;
    }
    const QString dir = args.isEmpty() ? QCoreApplication::applicationDirPath() : args.first();
    const QString path = storeFilePath(dir);

    try {
        // Writers take the store's lock first; nothing reads a file that is
        // not a store.
        std::unique_ptr<StoreLock> lock;
        if (command == QLatin1String("create") || command == QLatin1String("fill") ||
            command == QLatin1String("repair"))
            lock = StoreLock::take(path);
        if (command != QLatin1String("create"))
            checkStoreFile(path);
        if (command == QLatin1String("create")) {
            if (createStore(path) == CreateResult::AlreadyExists) {
                printError(QStringLiteral("%1 already exists; nothing was changed").arg(path));
                return Exit::AlreadyExists;
            }
            return Exit::Ok;
        }
        if (command == QLatin1String("export")) {
            QFile out;
            if (!out.open(stdout, QIODevice::WriteOnly)) {
                printError(QStringLiteral("cannot write to standard output"));
                return Exit::Failed;
            }
            exportStore(path, out);
            return Exit::Ok;
        }
        if (command == QLatin1String("fill")) {
            fillStore(path, count);
            return Exit::Ok;
        }
        if (command == QLatin1String("repair")) {
            repairStore(path);
            return Exit::Ok;
        }
        if (command == QLatin1String("backup")) {
            backupStore(path, dest);
            return Exit::Ok;
        }
        if (command == QLatin1String("check")) {
            const QStringList problems = checkStore(path);
            for (const QString &problem : problems)
                printError(problem);
            if (!problems.isEmpty())
                return Exit::CheckFailed;
            QTextStream(stdout) << path << ": ok" << Qt::endl;
            return Exit::Ok;
        }
    } catch (const StationError &e) {
        return storeErrorExit(e);
    }
    printError(QStringLiteral("unknown command '%1'; see --help").arg(command));
    return Exit::Usage;
}
