#include "sim/Pty.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>
#include <utility>

namespace tarvik::sim {

namespace {

// Owns a descriptor until the pair is complete, so a failure halfway closes what was opened.
class Owned {
public:
    explicit Owned(int fd) : m_fd(fd) {}
    ~Owned() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    int Get() const { return m_fd; }
    int Release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

[[noreturn]] void ThrowErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

std::uint32_t BitsPerSecond(speed_t speed) {
    switch (speed) {
        case B50:
            return 50;
        case B75:
            return 75;
        case B110:
            return 110;
        case B134:
            return 134;
        case B150:
            return 150;
        case B200:
            return 200;
        case B300:
            return 300;
        case B600:
            return 600;
        case B1200:
            return 1200;
        case B1800:
            return 1800;
        case B2400:
            return 2400;
        case B4800:
            return 4800;
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        case B230400:
            return 230400;
        case B460800:
            return 460800;
        case B500000:
            return 500000;
        case B576000:
            return 576000;
        case B921600:
            return 921600;
        case B1000000:
            return 1000000;
        case B1152000:
            return 1152000;
        case B1500000:
            return 1500000;
        case B2000000:
            return 2000000;
        case B2500000:
            return 2500000;
        case B3000000:
            return 3000000;
        case B3500000:
            return 3500000;
        case B4000000:
            return 4000000;
        default:
            return 0;  // B0 (hung up) or a rate set some other way
    }
}

}  // namespace

Pty::Pty() {
    Owned master(::posix_openpt(O_RDWR | O_NOCTTY));
    if (master.Get() < 0) {
        ThrowErrno("posix_openpt");
    }
    if (::fcntl(master.Get(), F_SETFD, FD_CLOEXEC) != 0) {
        ThrowErrno("fcntl(FD_CLOEXEC)");
    }
    // The device thread must never block on the master: a tool that stops reading would
    // otherwise keep it from seeing the stop request.
    const int flags = ::fcntl(master.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(master.Get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        ThrowErrno("fcntl(O_NONBLOCK)");
    }
    if (::grantpt(master.Get()) != 0) {
        ThrowErrno("grantpt");
    }
    if (::unlockpt(master.Get()) != 0) {
        ThrowErrno("unlockpt");
    }
    char name[256];
    if (const int error = ::ptsname_r(master.Get(), name, sizeof name); error != 0) {
        errno = error;
        ThrowErrno("ptsname_r");
    }
    Owned slave(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (slave.Get() < 0) {
        ThrowErrno("open(pty slave)");
    }
    // Raw from the start: a fresh pty echoes, and the echo would come back to the device as
    // bytes the tool never sent. The tool sets its own mode and rate when it opens the port.
    termios settings{};
    if (::tcgetattr(slave.Get(), &settings) != 0) {
        ThrowErrno("tcgetattr(pty slave)");
    }
    ::cfmakeraw(&settings);
    if (::tcsetattr(slave.Get(), TCSANOW, &settings) != 0) {
        ThrowErrno("tcsetattr(pty slave)");
    }
    m_slavePath = name;
    m_slave = slave.Release();
    m_master = master.Release();
}

Pty::~Pty() {
    ::close(m_slave);
    ::close(m_master);
}

std::uint32_t Pty::SlaveBaud() const {
    // On a master, tcgetattr reports the slave's settings, which are what the tool set.
    termios settings{};
    if (::tcgetattr(m_master, &settings) != 0) {
        return 0;
    }
    return BitsPerSecond(::cfgetospeed(&settings));
}

void Pty::SuspendSlaveOutput() const {
    ::tcflow(m_slave, TCOOFF);
}

}  // namespace tarvik::sim
