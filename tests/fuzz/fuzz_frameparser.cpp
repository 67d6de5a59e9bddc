// libFuzzer entry: random scripts of arrivals and events through the
// receive handler; a broken invariant aborts with its description.

#include "parserfuzz.h"

#include <cstdio>
#include <cstdlib>

using namespace qf;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const ParserRun run(QByteArrayView(data, qsizetype(size)));
    if (!run.error().isEmpty()) {
        std::fprintf(stderr, "invariant broken: %s\n", qPrintable(run.error()));
        std::abort();
    }
    return 0;
}
