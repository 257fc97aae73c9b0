#include "support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <map>
#include <stdexcept>
#include <thread>

namespace tarvik::test {
namespace {

std::string Slurp(const std::filesystem::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Output files of their own for each child, so that several can run from one folder.
std::filesystem::path NextOutput(const std::filesystem::path& workDir) {
    static std::atomic<int> count{0};
    return workDir / ("child" + std::to_string(count++));
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::filesystem::path& workDir,
                           const std::vector<std::string>& environment)
    : m_out(NextOutput(workDir).replace_extension(".out")),
      m_err(std::filesystem::path(m_out).replace_extension(".err")) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    for (const auto& [fd, file] : {std::pair{1, &m_out}, std::pair{2, &m_err}}) {
        posix_spawn_file_actions_addopen(&actions, fd, file->c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    }
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    // This process's environment with `environment` laid over it: of two entries with one
    // name, the later wins.
    std::map<std::string, std::string> merged;
    std::vector<std::string> entries;
    for (char** entry = environ; *entry; ++entry) {
        entries.emplace_back(*entry);
    }
    entries.insert(entries.end(), environment.begin(), environment.end());
    for (const auto& entry : entries) {
        merged[entry.substr(0, entry.find('='))] = entry;
    }
    std::vector<char*> envp;
    for (auto& [name, entry] : merged) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    const int error =
        posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    m_startedPid = m_pid;
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        throw std::runtime_error("cannot start " + program);
    }
}

ChildProcess::~ChildProcess() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

bool ChildProcess::Reaped() {
    int status = 0;
    if (m_pid > 0 && waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return m_pid <= 0;
}

int ChildProcess::Wait(std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!Reaped()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return m_status;
}

void ChildProcess::Signal(int signal) {
    if (m_pid > 0) {
        kill(m_pid, signal);
    }
}

std::string ChildProcess::Out() const {
    return Slurp(m_out);
}

std::string ChildProcess::Err() const {
    return Slurp(m_err);
}

bool ChildProcess::WaitForOut(const std::string& text, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (bool ended = false; std::chrono::steady_clock::now() < deadline && !ended;) {
        ended = Reaped();  // before reading, so that all it wrote is seen
        if (Out().find(text) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace tarvik::test
