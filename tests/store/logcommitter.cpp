// Test helper: starts a record log on DIR as the station does, commits ten
// records, prints "deleting", deletes all, prints "deleted" once deleteAllRecords has
// returned, then commits records without end, printing each serial number
// once its commit has returned (and so its Update). The durability test
// kills it.

#include "recordlog/recordlog.h"
#include "support/fakes.h"

#include <QCoreApplication>

#include <cstdio>

using namespace qf;

constexpr int CommitsBeforeDelete = 10;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 1; // usage: qf_log_committer DIR
    // Each line reaches the test as it is written.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    FakeMessageBoxes boxes;
    RecordLog log(QString::fromLocal8Bit(argv[1]), boxes);
    log.openStore(); // a store error aborts the committer
    log.listAllRecords();
    for (int i = 0;; ++i) {
        if (i == CommitsBeforeDelete) {
            std::puts("deleting");
            log.deleteAllRecords();
            std::puts("deleted");
        }
        log.commit({"  21.5", "  22", "  7", "  0.5"});
        std::puts(QByteArray::number(log.grid().Rows() - 2).constData());
    }
}
