#pragma once

#include <string>

namespace tarvik::cli {

// How the parent of a parallel run passes Ctrl+C on to a child on Windows: a semaphore named
// after the child's process id, made by the parent before the child runs and released once for
// each Ctrl+C; the child's interrupt watch waits on it beside the console's own Ctrl+C. A run
// that nobody started this way finds no such semaphore and hears the console alone.
//
// Not the console's own events: a child sharing the parent's console would hear the
// operator's Ctrl+C itself and then the parent's as a second one, which ends it at once;
// and GenerateConsoleCtrlEvent reaches only processes on the caller's console, which a parent
// started without one (by a service, or through pipes under Wine) does not have. So the
// children run with no console at all, and a semaphore works the same in every case.
inline std::wstring InterruptChannelName(unsigned long pid) {
    return L"Local\\tarvik-flash-interrupt-" + std::to_wstring(pid);
}

}  // namespace tarvik::cli
