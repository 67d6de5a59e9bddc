// quillfern-bench-follower: the store follower's figures on a store of
// `quillfern-store fill` records.
//
//   quillfern-bench-follower [--dir DIR] [--records N] [--batch B]
//
// The store is made in DIR/<N>/velk.mdb (a temporary directory by default;
// a store of the right size there is reused). Prints the time to open the
// follower, to read every record in batches of B (records a second), and
// the time of one poll of a store with nothing new.

#include "store/storefollower.h"
#include "store/storemaintenance.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>

using namespace qf;

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr qint64 DefaultRecords = 10'000'000;
constexpr qsizetype DefaultBatch = 10'000;
constexpr int Polls = 10'000;

QString storeOf(const QString &root, qint64 records)
{
    const QString dir = QDir(root).filePath(QString::number(records));
    QDir().mkpath(dir);
    const QString path = storeFilePath(dir);
    if (createStore(path) == CreateResult::Created)
        fillStore(path, records);
    return path;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Measures the store follower."));
    parser.addHelpOption();
    parser.addOption(
        {QStringLiteral("dir"), QStringLiteral("Where the store is made."), QStringLiteral("DIR")});
    parser.addOption({QStringLiteral("records"), QStringLiteral("Records in the store."), QStringLiteral("N"),
                      QString::number(DefaultRecords)});
    parser.addOption({QStringLiteral("batch"), QStringLiteral("Records a read."), QStringLiteral("B"),
                      QString::number(DefaultBatch)});
    parser.process(app);
    const qint64 records = parser.value(QStringLiteral("records")).toLongLong();
    const qsizetype batch = parser.value(QStringLiteral("batch")).toLongLong();
    QTemporaryDir temporary;
    const QString root =
        parser.isSet(QStringLiteral("dir")) ? parser.value(QStringLiteral("dir")) : temporary.path();

    try {
        const QString path = storeOf(root, records);
        auto start = Clock::now();
        qf::StoreFollower follower(path);
        const Seconds open = Clock::now() - start;

        start = Clock::now();
        qint64 read = 0;
        double sum = 0; // kept, so that the values are really read
        for (qsizetype n = 0; (n = follower.next(batch, [&sum](const qf::RecordView &record) {
                                  sum += record.values[0].value_or(0);
                              })) > 0;)
            read += n;
        const Seconds all = Clock::now() - start;

        start = Clock::now();
        for (int i = 0; i < Polls; ++i)
            follower.poll();
        const Seconds polls = Clock::now() - start;

        std::printf("store            %s\n", qPrintable(path));
        std::printf("open             %.1f ms\n", open.count() * 1e3);
        std::printf(
            "read all         %lld records in %.2f s: %.2f million records/s (batch %lld, sum %.0f)\n",
            static_cast<long long>(read), all.count(), double(read) / all.count() / 1e6,
            static_cast<long long>(batch), sum);
        std::printf("poll, caught up  %.1f us\n", polls.count() / Polls * 1e6);
    } catch (const StationError &e) {
        std::fprintf(stderr, "%d %s\n", e.error().number(), e.what());
        return 1;
    }
    return 0;
}
