#include "cli/ParallelFlash.h"

#include <algorithm>
#include <chrono>
#include <optional>

#include "cli/Console.h"
#include "cli/InterruptWatch.h"
#include "cli/LineBuffer.h"
#include "cli/PortChildren.h"
#include "cli/Utf8Path.h"

namespace tarvik::cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kOutputSlice{50};
// After Ctrl+C a child ends its download at its next step, which takes well under this.
constexpr std::chrono::seconds kInterruptGrace{10};
// A child that has exited but whose pipes stay open (something it started holds them) is
// read for this long at most.
constexpr std::chrono::seconds kDrainAfterExit{2};

// What the parent knows of one port's child.
struct PortRun {
    LineBuffer lines;
    Clock::time_point started;
    std::optional<ChildEnd> end;  // once reaped
    Clock::time_point reapedAt;
    bool done = false;  // reaped, its output all taken, and the board told
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

double SecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace

std::filesystem::path TraceFileForPort(const std::filesystem::path& trace,
                                       const std::string& port) {
    std::string suffix = port;
    std::replace(suffix.begin(), suffix.end(), '/', '_');
    return PathFromUtf8(Utf8(trace) + "." + suffix);
}

std::vector<std::string> ChildArguments(const FlashOptions& options, const std::string& port) {
    std::vector<std::string> args = {"--port", port, "--json"};
    if (options.simulate) {
        args.push_back("--simulate");
    }
    if (options.trace) {
        args.push_back("--trace");
        args.push_back(Utf8(TraceFileForPort(*options.trace, port)));
    }
    args.push_back(Utf8(options.firmware));
    return args;
}

int FlashInParallel(const FlashOptions& options, const std::string& argv0) {
    const BoardMode mode = ModeFor(options);
    return FlashInParallel(options, OwnProgram(), argv0, mode, stdout, stderr,
                           mode == BoardMode::Terminal ? TerminalColumns() : 80);
}

int FlashInParallel(const FlashOptions& options, const std::filesystem::path& program,
                    const std::string& argv0, BoardMode mode, std::FILE* out, std::FILE* err,
                    int columns) {
    BlockInterrupt();  // before the children start: on POSIX they inherit the mask
    PortBoard board(options.ports, mode, out, err, columns);
    std::vector<PortRun> runs(options.ports.size());

    // After the board, so that on any way out the children are killed and reaped before
    // anything else goes.
    PortChildren children(options.ports.size());
    for (std::size_t i = 0; i < options.ports.size(); ++i) {
        std::vector<std::string> argv = {argv0};
        for (std::string& arg : ChildArguments(options, options.ports[i])) {
            argv.push_back(std::move(arg));
        }
        std::string error;
        runs[i].started = Clock::now();
        if (children.Start(i, program, argv, error)) {
            board.Started(i, children.Pid(i));
        } else {
            board.NotStarted(i, error);
            runs[i].done = true;
        }
    }

    const auto take = [&](std::size_t port, PortChildren::Stream stream, std::string_view bytes) {
        if (stream == PortChildren::Stream::Out) {
            for (const std::string& line : runs[port].lines.Take(bytes)) {
                board.TakeLine(port, line);
            }
        } else {
            board.TakeErr(port, bytes);
        }
    };
    bool interrupted = false;
    // When the children still running after Ctrl+C are killed; never until then.
    Clock::time_point killAt = Clock::time_point::max();
    while (std::any_of(runs.begin(), runs.end(), [](const PortRun& run) { return !run.done; })) {
        // With no output left to read this is a plain pause between the checks below.
        children.TakeOutput(kOutputSlice, take);

        const auto now = Clock::now();
        for (std::size_t i = 0; i < runs.size(); ++i) {
            PortRun& run = runs[i];
            if (run.done) {
                continue;
            }
            if (!run.end) {
                run.end = children.Reap(i);
                run.reapedAt = now;
            }
            if (run.end && now - run.reapedAt > kDrainAfterExit) {
                children.DropOutput(i);
            }
            if (run.end && children.OutputEnded(i)) {
                board.Ended(i, *run.end, SecondsBetween(run.started, run.reapedAt));
                run.done = true;
            }
        }

        if (TakeInterrupt(std::chrono::milliseconds(0))) {
            // A second Ctrl+C does not wait for the grace.
            killAt = interrupted ? now : std::min(killAt, now + kInterruptGrace);
            interrupted = true;
            for (std::size_t i = 0; i < runs.size(); ++i) {
                children.Interrupt(i);
            }
        }
        if (now >= killAt) {
            for (std::size_t i = 0; i < runs.size(); ++i) {
                children.Kill(i);
            }
            killAt = Clock::time_point::max();
        }
        board.Redraw();
    }
    return board.Finish(interrupted);
}

}  // namespace tarvik::cli
