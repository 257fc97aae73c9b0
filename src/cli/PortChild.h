#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "cli/PortEvents.h"

namespace tarvik::cli {

// One child process of a parallel run, its standard output and error on pipes that the
// parent reads (non-blocking); its standard input is /dev/null. A child still running when
// this goes away is killed and reaped, and both pipes are closed, whatever the way out.
class PortChild {
public:
    PortChild() = default;
    ~PortChild();
    PortChild(const PortChild&) = delete;
    PortChild& operator=(const PortChild&) = delete;

    // Starts `program` with `argv` (argv[0] first); false, with the reason, when it cannot.
    bool Start(const std::string& program, const std::vector<std::string>& argv,
               std::string& error);

    pid_t Pid() const { return m_pid; }
    // -1 once closed.
    int OutFd() const { return m_out; }
    int ErrFd() const { return m_err; }
    void CloseOut();
    void CloseErr();

    // Sends `signal` while the child has not been reaped.
    void Signal(int signal);
    // Reaps the child if it has ended, without waiting; how it ended, once it has.
    std::optional<ChildEnd> Reap();
    bool Reaped() const { return m_reaped; }

private:
    pid_t m_pid = -1;
    bool m_reaped = false;
    int m_out = -1;
    int m_err = -1;
};

}  // namespace tarvik::cli
