#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/ChildEnd.h"

namespace tarvik::cli {

// The child processes of a parallel run, one a port, with their standard output and error
// on pipes the parent reads; their standard input is the null device. Each system runs them
// its own way (POSIX: posix_spawn and poll; Windows: CreateProcessW and a reader thread a
// child). Whatever the way out, every child still running when this goes away is killed and
// waited for, every pipe and handle closed and every thread joined.
class PortChildren {
public:
    enum class Stream { Out, Err };
    // A piece of a child's output, as it came.
    using OutputSink = std::function<void(std::size_t port, Stream stream, std::string_view bytes)>;

    explicit PortChildren(std::size_t count);
    ~PortChildren();
    PortChildren(const PortChildren&) = delete;
    PortChildren& operator=(const PortChildren&) = delete;

    // Starts `program` for `port` with `argv` (argv[0] first); false, with the reason, when it
    // cannot.
    bool Start(std::size_t port, const std::filesystem::path& program,
               const std::vector<std::string>& argv, std::string& error);
    long Pid(std::size_t port) const;

    // Waits up to `slice` for output of any child, and hands what came to `take`.
    void TakeOutput(std::chrono::milliseconds slice, const OutputSink& take);
    // Both of the child's streams have ended (or were dropped), and all they held was taken.
    bool OutputEnded(std::size_t port) const;
    // Stops reading the child's streams: for a child that has ended while something it started
    // still holds them open.
    void DropOutput(std::size_t port);

    // Passes Ctrl+C on to the child; nothing once it has been reaped.
    void Interrupt(std::size_t port);
    // Ends the child at once; it is then reported as killed by SIGKILL.
    void Kill(std::size_t port);
    // How the child ended, once it has, without waiting.
    std::optional<ChildEnd> Reap(std::size_t port);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace tarvik::cli
