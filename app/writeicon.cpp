// Writes the window's icon as a PNG file, for the desktop entry of an
// installed station.

#include "app/appicon.h"

#include <cstdio>

using namespace qf;

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE.png\n", argv[0]);
        return 1;
    }
    return drawAppIcon().save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
