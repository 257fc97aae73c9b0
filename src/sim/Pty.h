#pragma once

#include <cstdint>
#include <filesystem>

namespace tarvik::sim {

// A pseudo-terminal pair for a simulated device: the device works the master, the tool opens
// the slave by path. The pair also keeps a slave descriptor of its own for its whole life,
// since a master reads EIO while no slave is open, and the tool closes and reopens the port.
class Pty {
public:
    Pty();  // throws std::system_error
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    // Non-blocking, close-on-exec.
    int MasterFd() const { return m_master; }
    const std::filesystem::path& SlavePath() const { return m_slavePath; }

    // The rate the tool has set on the slave, in bits per second; 0 when it cannot be told.
    std::uint32_t SlaveBaud() const;

    // Suspends the slave's output, as flow control would: the tool's writes take no byte.
    void SuspendSlaveOutput() const;

private:
    int m_master = -1;
    int m_slave = -1;
    std::filesystem::path m_slavePath;
};

}  // namespace tarvik::sim
