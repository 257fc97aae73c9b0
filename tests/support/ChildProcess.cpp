#include "support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace tarvik::test {
namespace {

std::string Slurp(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Output files of their own for each child, so that several can run from one folder.
std::string NextOutputName() {
    static std::atomic<int> count{0};
    return "child" + std::to_string(count++);
}

// This process's environment with `extra` laid over it; of two entries with one name, the
// later wins.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> merged;
    const auto name = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    const auto add = [&](const std::string& entry) {
        const auto same = std::find_if(merged.begin(), merged.end(), [&](const std::string& e) {
            return name(e) == name(entry);
        });
        if (same != merged.end()) {
            *same = entry;
        } else {
            merged.push_back(entry);
        }
    };
    for (char** entry = environ; *entry; ++entry) {
        add(*entry);
    }
    for (const auto& entry : extra) {
        add(entry);
    }
    return merged;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::filesystem::path& workDir,
                           const std::vector<std::string>& environment)
    : m_out(workDir / (NextOutputName() + ".out")),
      m_err(workDir / (m_out.stem().string() + ".err")) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<std::string> envText = MergedEnvironment(environment);
    std::vector<char*> envp;
    for (auto& entry : envText) {
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
    while (std::chrono::steady_clock::now() < deadline) {
        if (Out().find(text) != std::string::npos) {
            return true;
        }
        if (Reaped()) {
            return Out().find(text) != std::string::npos;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace tarvik::test
