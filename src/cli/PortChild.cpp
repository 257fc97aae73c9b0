#include "cli/PortChild.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace tarvik::cli {
namespace {

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// A pipe whose two ends are not inherited by any child started later; the child's end is
// put in place with dup2, which clears that flag on the copy.
bool MakePipe(int ends[2]) {
    return ::pipe2(ends, O_CLOEXEC) == 0;
}

}  // namespace

PortChild::~PortChild() {
    if (m_pid > 0 && !m_reaped) {
        ::kill(m_pid, SIGKILL);
        // SIGKILL cannot be caught or blocked, so this returns as soon as the kernel has
        // taken the process down.
        while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    CloseOut();
    CloseErr();
}

bool PortChild::Start(const std::string& program, const std::vector<std::string>& argv,
                      std::string& error) {
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (!MakePipe(out) || !MakePipe(err)) {
        error = std::string("cannot make a pipe: ") + ::strerror(errno);
        CloseFd(out[0]);
        CloseFd(out[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    // The signal mask is inherited: SIGINT stays blocked in the child until its own watch
    // takes it, so a Ctrl+C that comes early ends its run instead of killing it.
    const int spawned =
        ::posix_spawn(&m_pid, program.c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    CloseFd(out[1]);
    CloseFd(err[1]);
    if (spawned != 0) {
        m_pid = -1;
        CloseFd(out[0]);
        CloseFd(err[0]);
        error = "cannot start " + program + ": " + ::strerror(spawned);
        return false;
    }
    m_out = out[0];
    m_err = err[0];
    ::fcntl(m_out, F_SETFL, ::fcntl(m_out, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_err, F_SETFL, ::fcntl(m_err, F_GETFL) | O_NONBLOCK);
    return true;
}

void PortChild::CloseOut() {
    CloseFd(m_out);
}

void PortChild::CloseErr() {
    CloseFd(m_err);
}

void PortChild::Signal(int signal) {
    if (m_pid > 0 && !m_reaped) {
        ::kill(m_pid, signal);
    }
}

std::optional<ChildEnd> PortChild::Reap() {
    if (m_pid <= 0 || m_reaped) {
        return std::nullopt;
    }
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) != m_pid) {
        return std::nullopt;
    }
    m_reaped = true;
    return ChildEndFromWaitStatus(status);
}

}  // namespace tarvik::cli
