#include "cli/ChildEnd.h"

#include <csignal>

namespace tarvik::cli {

ChildEnd ChildEndFromWaitStatus(int waitStatus) {
    return {waitStatus, 0};
}

std::string SignalName(int signal) {
    // The C library's signals are all a Windows process knows by name.
    switch (signal) {
        case SIGINT:
            return "SIGINT";
        case SIGILL:
            return "SIGILL";
        case SIGFPE:
            return "SIGFPE";
        case SIGSEGV:
            return "SIGSEGV";
        case SIGTERM:
            return "SIGTERM";
        case SIGABRT:
            return "SIGABRT";
        case 9:  // what a parallel run reports for a child it had to terminate, as on POSIX
            return "SIGKILL";
        default:
            return "signal " + std::to_string(signal);
    }
}

}  // namespace tarvik::cli
