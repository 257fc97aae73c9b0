#pragma once

#include <string>

namespace tarvik::cli {

// How a child process ended: its exit code, or the signal that ended it.
struct ChildEnd {
    int exitCode = 0;
    int signal = 0;  // 0 when it exited
};

// From what the system reports of an ended process: a wait status on POSIX, the exit code
// on Windows (where no signal ends a process).
ChildEnd ChildEndFromWaitStatus(int waitStatus);

// "SIGKILL", or "signal 77" for one without a name.
std::string SignalName(int signal);

}  // namespace tarvik::cli
