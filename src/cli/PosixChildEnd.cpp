#include "cli/ChildEnd.h"

#include <string.h>
#include <sys/wait.h>

namespace tarvik::cli {

ChildEnd ChildEndFromWaitStatus(int waitStatus) {
    if (WIFSIGNALED(waitStatus)) {
        return {128 + WTERMSIG(waitStatus), WTERMSIG(waitStatus)};
    }
    return {WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 1, 0};
}

std::string SignalName(int signal) {
    if (const char* name = sigabbrev_np(signal)) {
        return std::string("SIG") + name;
    }
    return "signal " + std::to_string(signal);
}

}  // namespace tarvik::cli
