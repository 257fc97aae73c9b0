#include "cli/ParallelFlash.h"

#include <cstdio>

namespace tarvik::cli {

int FlashInParallel(const FlashOptions&, const std::string&) {
    // One process a port, read through pipes, is not built for Windows yet: the operator
    // learns it before anything is opened, as for any other request the program cannot take.
    std::fputs(
        UsageErrorText("several ports at once are not yet available on Windows: give --port once")
            .c_str(),
        stderr);
    return kExitUsage;
}

}  // namespace tarvik::cli
