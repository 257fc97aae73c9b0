#pragma once

#include <atomic>
#include <chrono>
#include <thread>

namespace tarvik {
class CUpdaterDlg;
}

namespace tarvik::cli {

// Ctrl+C as something to take where it is expected, never as an interruption at a random
// point. On POSIX SIGINT is blocked in every thread (and in every child process, which
// inherits the mask) and taken with sigtimedwait, without a signal handler. On Windows a
// console control handler counts each Ctrl+C and Ctrl+Break, and they are taken one by one.

// From here on Ctrl+C no longer ends the process but waits to be taken. On POSIX, call
// before any other thread or child starts, so that all of them inherit the blocked signal.
void BlockInterrupt();

// True when a Ctrl+C was pending, or arrives within `wait`; it is taken.
bool TakeInterrupt(std::chrono::milliseconds wait);

// The exit status after Ctrl+C.
inline constexpr int kExitInterrupted = 130;

// Ends the process at once with kExitInterrupted: what a second Ctrl+C does.
[[noreturn]] void ExitAtOnce();

// A thread that turns Ctrl+C into a cancel of the dialog's update. Once interrupted it keeps
// cancelling for as long as it watches: a cancel that came before the road started would
// otherwise be cleared when the road starts. A second Ctrl+C ends the process at once.
class InterruptWatch {
public:
    explicit InterruptWatch(CUpdaterDlg& dlg);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    bool Interrupted() const { return m_interrupted; }

private:
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_interrupted{false};
    std::thread m_thread;
};

}  // namespace tarvik::cli
