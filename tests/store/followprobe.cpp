// Test helper: follows the store at PATH as a program beside the station
// does. Prints "error NUMBER DESCRIPTION" when the follower cannot be
// opened, else, for each line read, "records N": the records read so far.

#include "store/storefollower.h"

#include <QCoreApplication>

#include <cstdio>
#include <iostream>
#include <string>

using namespace qf;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 1; // usage: qf_follow_probe PATH
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    try {
        qf::StoreFollower follower(QString::fromLocal8Bit(argv[1]));
        qsizetype records = 0;
        for (std::string line; std::getline(std::cin, line);) {
            if (follower.poll() == qf::StoreChange::Restarted)
                records = 0;
            records += follower.next(1000, [](const qf::RecordView &) {});
            std::printf("records %lld\n", static_cast<long long>(records));
        }
    } catch (const StationError &e) {
        std::printf("error %d %s\n", e.error().number(), e.what());
    }
    return 0;
}
