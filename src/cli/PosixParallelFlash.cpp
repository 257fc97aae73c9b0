#include "cli/ParallelFlash.h"

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <optional>

#include "cli/Console.h"
#include "cli/InterruptWatch.h"
#include "cli/LineBuffer.h"
#include "cli/PortBoard.h"
#include "cli/PortChild.h"

namespace tarvik::cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPollSliceMs = 50;
// After Ctrl+C a child ends its download at its next step, which takes well under this.
constexpr std::chrono::seconds kInterruptGrace{10};
// A child that has exited but whose pipes stay open (something it started holds them) is
// read for this long at most.
constexpr std::chrono::seconds kDrainAfterExit{2};
constexpr std::size_t kReadPerTurn = 64 * 1024;

// One port's child and what the parent knows of it.
struct PortRun {
    PortChild child;
    LineBuffer lines;
    Clock::time_point started;
    std::optional<ChildEnd> end;  // once reaped
    Clock::time_point reapedAt;
    bool done = false;  // reaped, pipes closed, and the board told
};

BoardMode ModeFor(const FlashOptions& options) {
    if (options.json) {
        return BoardMode::Json;
    }
    if (options.quiet) {
        return BoardMode::Quiet;
    }
    return OutputRedraws() ? BoardMode::Terminal : BoardMode::Lines;
}

int TerminalColumns() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

// Reads what the pipe holds now, up to a bound so that one chatty child cannot starve the
// others; false once the pipe has ended (or failed).
bool ReadAvailable(int fd, std::string& bytes) {
    char buffer[4096];
    while (bytes.size() < kReadPerTurn) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            bytes.append(buffer, static_cast<std::size_t>(got));
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        }
    }
    return true;
}

double SecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace

int FlashInParallel(const FlashOptions& options, const std::string& argv0) {
    BlockInterrupt();  // before the children start: they inherit the mask
    const BoardMode mode = ModeFor(options);
    PortBoard board(options.ports, mode, stdout, stderr,
                    mode == BoardMode::Terminal ? TerminalColumns() : 80);

    // Declared after the board, so that on any way out the children are killed and reaped
    // before anything else goes.
    std::vector<std::unique_ptr<PortRun>> runs;
    for (std::size_t i = 0; i < options.ports.size(); ++i) {
        auto run = std::make_unique<PortRun>();
        std::vector<std::string> argv = {argv0};
        for (std::string& arg : ChildArguments(options, options.ports[i])) {
            argv.push_back(std::move(arg));
        }
        std::string error;
        run->started = Clock::now();
        if (run->child.Start("/proc/self/exe", argv, error)) {
            board.Started(i, run->child.Pid());
        } else {
            board.NotStarted(i, error);
            run->done = true;
        }
        runs.push_back(std::move(run));
    }

    bool interrupted = false;
    // When the children still running after Ctrl+C are killed; never until then.
    Clock::time_point killAt = Clock::time_point::max();
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<std::size_t> owners;
        bool running = false;
        for (std::size_t i = 0; i < runs.size(); ++i) {
            running = running || !runs[i]->done;
            for (const int fd : {runs[i]->child.OutFd(), runs[i]->child.ErrFd()}) {
                if (fd >= 0) {
                    fds.push_back({fd, POLLIN, 0});
                    owners.push_back(i);
                }
            }
        }
        if (!running) {
            break;
        }
        // With no pipe left open this is a plain pause between the checks below.
        ::poll(fds.data(), fds.size(), kPollSliceMs);

        for (std::size_t k = 0; k < fds.size(); ++k) {
            if (fds[k].revents == 0) {
                continue;
            }
            PortRun& run = *runs[owners[k]];
            const bool isOut = fds[k].fd == run.child.OutFd();
            std::string bytes;
            const bool open = ReadAvailable(fds[k].fd, bytes);
            if (isOut) {
                for (const std::string& line : run.lines.Take(bytes)) {
                    board.TakeLine(owners[k], line);
                }
            } else {
                board.TakeErr(owners[k], bytes);
            }
            if (!open) {
                isOut ? run.child.CloseOut() : run.child.CloseErr();
            }
        }

        const auto now = Clock::now();
        for (std::size_t i = 0; i < runs.size(); ++i) {
            PortRun& run = *runs[i];
            if (run.done) {
                continue;
            }
            if (!run.end) {
                run.end = run.child.Reap();
                run.reapedAt = now;
            }
            if (run.end && now - run.reapedAt > kDrainAfterExit) {
                run.child.CloseOut();
                run.child.CloseErr();
            }
            if (run.end && run.child.OutFd() < 0 && run.child.ErrFd() < 0) {
                board.Ended(i, *run.end, SecondsBetween(run.started, run.reapedAt));
                run.done = true;
            }
        }

        if (TakeInterrupt(std::chrono::milliseconds(0))) {
            // A second Ctrl+C does not wait for the grace.
            killAt = interrupted ? now : std::min(killAt, now + kInterruptGrace);
            interrupted = true;
            for (const auto& run : runs) {
                run->child.Signal(SIGINT);
            }
        }
        if (now >= killAt) {
            for (const auto& run : runs) {
                run->child.Signal(SIGKILL);
            }
            killAt = Clock::time_point::max();
        }
        board.Redraw();
    }
    return board.Finish(interrupted);
}

}  // namespace tarvik::cli
