#include "cli/InterruptWatch.h"

#include <windows.h>

#include <climits>

#include "cli/WinInterruptChannel.h"

namespace tarvik::cli {
namespace {

// Each Ctrl+C the console delivered and nobody has taken yet: a semaphore is an event that
// counts, so two quick presses stay two.
HANDLE Pending() {
    static const HANDLE pending = ::CreateSemaphoreW(nullptr, 0, LONG_MAX, nullptr);
    return pending;
}

// Runs on a thread the system starts for the event. Only counts: whoever waits in
// TakeInterrupt decides what a Ctrl+C means at that moment.
BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;  // the console closing, a log-off, a shutdown: the system's own way
    }
    ::ReleaseSemaphore(Pending(), 1, nullptr);
    return TRUE;
}

// Ctrl+C passed on by the parent of a parallel run, when it started this process; null
// otherwise.
HANDLE FromParent() {
    static const HANDLE channel =
        ::OpenSemaphoreW(SYNCHRONIZE, FALSE, InterruptChannelName(::GetCurrentProcessId()).c_str());
    return channel;
}

}  // namespace

void BlockInterrupt() {
    static const bool installed = [] {
        Pending();  // made before the handler can ever run
        FromParent();
        // A process started in a new process group has Ctrl+C ignored; take it again.
        ::SetConsoleCtrlHandler(nullptr, FALSE);
        return ::SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0;
    }();
    static_cast<void>(installed);
}

bool TakeInterrupt(std::chrono::milliseconds wait) {
    const HANDLE waits[2] = {Pending(), FromParent()};
    const auto ms = wait.count() < 0 ? 0 : wait.count();
    const DWORD count = waits[1] ? 2 : 1;
    const DWORD woke = waits[0]
                           ? ::WaitForMultipleObjects(count, waits, FALSE, static_cast<DWORD>(ms))
                           : WAIT_FAILED;
    return woke < WAIT_OBJECT_0 + count;
}

}  // namespace tarvik::cli
