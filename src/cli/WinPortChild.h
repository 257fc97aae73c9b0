#pragma once

#include <windows.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "cli/ChildEnd.h"
#include "cli/PortChildren.h"

namespace tarvik::cli {

// The command line CommandLineToArgvW (and so every program built with a C runtime) reads
// back as exactly `argv`, from UTF-8. argv[0] is quoted whole: it is read without escapes.
std::wstring QuotedCommandLine(const std::vector<std::string>& argv);

// What the children's reader threads hand to the thread that shows the run. Guarded by the
// system's slim lock and condition variable, which hold no kernel object: a contended
// std::mutex of this runtime makes an event that nothing closes.
class ChildOutputQueue {
public:
    struct Piece {
        std::size_t port;
        enum class Kind { Out, Err, End } kind;  // End: the child's streams are done with
        std::string bytes;
    };

    void Push(Piece piece);
    // What came within `wait` (nothing when nothing did).
    std::deque<Piece> Take(std::chrono::milliseconds wait);

private:
    SRWLOCK m_lock = SRWLOCK_INIT;
    CONDITION_VARIABLE m_arrived = CONDITION_VARIABLE_INIT;
    std::deque<Piece> m_pieces;
};

// One child process on Windows: its standard output and error on two named pipes read by a
// thread of its own with overlapped reads (an anonymous pipe has none, and could not be
// stopped), its standard input the null device, no console (see WinInterruptChannel.h).
// Whatever the way out, a child still running when this goes away is terminated and waited
// for, its reader joined and every handle closed.
class WinPortChild {
public:
    WinPortChild() = default;
    ~WinPortChild();
    WinPortChild(const WinPortChild&) = delete;
    WinPortChild& operator=(const WinPortChild&) = delete;

    // Starts `program` with `argv` (argv[0] first); its output goes to `queue` as `port`'s.
    // `job`, when there is one, takes the child so that it never outlives this process.
    bool Start(const std::filesystem::path& program, const std::vector<std::string>& argv,
               HANDLE job, ChildOutputQueue& queue, std::size_t port, std::string& error);

    DWORD Pid() const { return m_pid; }
    // Asks the reader to stop; it then hands over its End.
    void StopReading();
    // Joins the reader once it has handed over its End.
    void JoinReader();

    void Interrupt();
    void Kill();
    std::optional<ChildEnd> Reap();

private:
    HANDLE m_process = nullptr;
    HANDLE m_interrupt = nullptr;
    HANDLE m_stop = nullptr;  // tells the reader to stop
    DWORD m_pid = 0;
    bool m_reaped = false;
    bool m_killed = false;
    std::thread m_reader;
};

}  // namespace tarvik::cli
