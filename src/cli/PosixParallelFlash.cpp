// The children of a parallel run on POSIX: posix_spawn, their pipes read together with poll.
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "cli/ParallelFlash.h"
#include "cli/PortChild.h"
#include "cli/PortChildren.h"

namespace tarvik::cli {
namespace {

constexpr std::size_t kReadPerTurn = 64 * 1024;

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

}  // namespace

struct PortChildren::Impl {
    explicit Impl(std::size_t count) : children(count) {}
    std::vector<PortChild> children;
};

PortChildren::PortChildren(std::size_t count) : m_impl(std::make_unique<Impl>(count)) {}

PortChildren::~PortChildren() = default;

bool PortChildren::Start(std::size_t port, const std::filesystem::path& program,
                         const std::vector<std::string>& argv, std::string& error) {
    return m_impl->children[port].Start(program.string(), argv, error);
}

long PortChildren::Pid(std::size_t port) const {
    return m_impl->children[port].Pid();
}

void PortChildren::TakeOutput(std::chrono::milliseconds slice, const OutputSink& take) {
    std::vector<pollfd> fds;
    std::vector<std::size_t> owners;
    for (std::size_t i = 0; i < m_impl->children.size(); ++i) {
        for (const int fd : {m_impl->children[i].OutFd(), m_impl->children[i].ErrFd()}) {
            if (fd >= 0) {
                fds.push_back({fd, POLLIN, 0});
                owners.push_back(i);
            }
        }
    }
    ::poll(fds.data(), fds.size(), static_cast<int>(slice.count()));
    for (std::size_t k = 0; k < fds.size(); ++k) {
        if (fds[k].revents == 0) {
            continue;
        }
        PortChild& child = m_impl->children[owners[k]];
        const bool isOut = fds[k].fd == child.OutFd();
        std::string bytes;
        const bool open = ReadAvailable(fds[k].fd, bytes);
        take(owners[k], isOut ? Stream::Out : Stream::Err, bytes);
        if (!open) {
            isOut ? child.CloseOut() : child.CloseErr();
        }
    }
}

bool PortChildren::OutputEnded(std::size_t port) const {
    return m_impl->children[port].OutFd() < 0 && m_impl->children[port].ErrFd() < 0;
}

void PortChildren::DropOutput(std::size_t port) {
    m_impl->children[port].CloseOut();
    m_impl->children[port].CloseErr();
}

void PortChildren::Interrupt(std::size_t port) {
    m_impl->children[port].Signal(SIGINT);
}

void PortChildren::Kill(std::size_t port) {
    m_impl->children[port].Signal(SIGKILL);
}

std::optional<ChildEnd> PortChildren::Reap(std::size_t port) {
    return m_impl->children[port].Reap();
}

std::filesystem::path OwnProgram() {
    return "/proc/self/exe";
}

int TerminalColumns() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

}  // namespace tarvik::cli
