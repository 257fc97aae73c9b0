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
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::filesystem::path& workDir);
    ~ChildProcess();

    // Exit status, 128 + signal when killed by one, -1 when it did not end in time.
    int Wait(std::chrono::seconds limit = std::chrono::seconds(120));
    void Signal(int signal);
    std::string Out() const;
    std::string Err() const;
    // Waits until standard output holds `text`; false when the child ended or time ran out.
    bool WaitForOut(const std::string& text, std::chrono::seconds limit = std::chrono::seconds(60));

private:
    pid_t m_pid = -1;
    int m_status = -1;
    std::filesystem::path m_out;
    std::filesystem::path m_err;
};

}  // namespace tarvik::test
