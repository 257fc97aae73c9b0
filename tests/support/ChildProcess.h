#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace tarvik::test {

// A program run with its output in files, waited for with a generous limit, and killed if
// it hangs past it (which fails the test rather than the suite).
class ChildProcess {
public:
    // `environment` holds "NAME=value" entries that are added to (or replace those of) this
    // process's environment for the child only.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::filesystem::path& workDir,
                 const std::vector<std::string>& environment = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Exit status, 128 + signal when killed by one, -1 when it did not end in time.
    int Wait(std::chrono::seconds limit = std::chrono::seconds(120));
    void Signal(int signal);
    std::string Out() const;
    std::string Err() const;
    // Waits until standard output holds `text`; false when the child ended or time ran out.
    bool WaitForOut(const std::string& text, std::chrono::seconds limit = std::chrono::seconds(60));
    // The child's process id, also after it has been reaped.
    pid_t Pid() const { return m_startedPid; }

private:
    // Reaps the child if it has ended; true once it has.
    bool Reaped();

    pid_t m_pid = -1;
    pid_t m_startedPid = -1;
    int m_status = -1;
    std::filesystem::path m_out;
    std::filesystem::path m_err;
};

}  // namespace tarvik::test
