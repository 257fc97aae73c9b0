#include "cli/InterruptWatch.h"

#include <pthread.h>
#include <signal.h>

namespace tarvik::cli {
namespace {

sigset_t InterruptSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    return set;
}

}  // namespace

void BlockInterrupt() {
    const sigset_t set = InterruptSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool TakeInterrupt(std::chrono::milliseconds wait) {
    const sigset_t set = InterruptSet();
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    const timespec slice{static_cast<time_t>(ns / 1'000'000'000),
                         static_cast<long>(ns % 1'000'000'000)};
    return sigtimedwait(&set, nullptr, &slice) == SIGINT;
}

}  // namespace tarvik::cli
