#include "serial/PosixSerialPort.h"
#include "serial/GatedSerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace tarvik {
namespace {

std::optional<speed_t> SpeedOf(std::uint32_t baud) {
    switch (baud) {
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            return std::nullopt;
    }
}

// What an open has taken so far; undone in reverse unless handed to a port.
struct OpenSteps {
    int fd = -1;
    bool locked = false;
    bool exclusive = false;
    int wake[2] = {-1, -1};

    OpenSteps() = default;
    OpenSteps(const OpenSteps&) = delete;
    OpenSteps& operator=(const OpenSteps&) = delete;

    // The port owns everything from here on.
    void HandOver() {
        fd = wake[0] = wake[1] = -1;
        locked = exclusive = false;
    }

    ~OpenSteps() {
        if (exclusive) {
            ::ioctl(fd, TIOCNXCL);
        }
        if (locked) {
            ::flock(fd, LOCK_UN);
        }
        for (int d : {wake[0], wake[1], fd}) {
            if (d >= 0) {
                ::close(d);
            }
        }
    }
};

class PosixSerialPort final : public GatedSerialPort {
public:
    PosixSerialPort(const Clock& clock, Clock::Duration writeStallLimit, int fd, int wakeRead,
                    int wakeWrite)
        : GatedSerialPort(clock, writeStallLimit),
          m_fd(fd),
          m_wakeRead(wakeRead),
          m_wakeWrite(wakeWrite) {}

    ~PosixSerialPort() override { Close(); }

private:
    std::optional<std::size_t> ReadSome(std::span<std::uint8_t> rest, Clock::TimePoint now,
                                        Clock::TimePoint deadline) override {
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wakeRead, POLLIN, 0}};
        if (::poll(fds, 2, WaitMilliseconds(now, deadline)) < 0) {
            return errno == EINTR ? std::optional<std::size_t>(0) : std::nullopt;
        }
        if (fds[1].revents != 0) {
            return std::nullopt;  // closed while we waited
        }
        if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            return std::nullopt;
        }
        if ((fds[0].revents & POLLIN) == 0) {
            return 0;
        }
        const ssize_t k = ::read(m_fd, rest.data(), rest.size());
        if (k > 0) {
            return static_cast<std::size_t>(k);
        }
        if (k == 0 || (errno != EAGAIN && errno != EINTR)) {
            // A terminal that reports input and then reads nothing has hung up.
            return std::nullopt;
        }
        return 0;
    }

    bool WriteAll(std::span<const std::uint8_t> data) override {
        std::size_t done = 0;
        auto stalledAt = m_clock.Now() + m_writeStallLimit;
        while (done < data.size()) {
            const auto now = m_clock.Now();
            if (now >= stalledAt) {
                return false;  // the line has taken nothing for too long
            }
            pollfd fds[2] = {{m_fd, POLLOUT, 0}, {m_wakeRead, POLLIN, 0}};
            if (::poll(fds, 2, WaitMilliseconds(now, stalledAt)) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            if (fds[1].revents != 0) {
                return false;  // closed while the line was full
            }
            if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                return false;
            }
            if ((fds[0].revents & POLLOUT) == 0) {
                continue;
            }
            const ssize_t k = ::write(m_fd, data.data() + done, data.size() - done);
            if (k > 0) {
                done += static_cast<std::size_t>(k);
                stalledAt = m_clock.Now() + m_writeStallLimit;
            } else if (k < 0 && errno != EAGAIN && errno != EINTR) {
                return false;
            }
        }
        return true;
    }

    void PurgeQueues() override { ::tcflush(m_fd, TCIOFLUSH); }

    // One byte that nobody reads: from now on every poll of every operation wakes.
    void WakeWaits() override {
        const std::uint8_t byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_wakeWrite, &byte, 1);
    }

    std::optional<std::size_t> OutputQueued() const override {
        int queued = 0;
        if (::ioctl(m_fd, TIOCOUTQ, &queued) != 0 || queued < 0) {
            return std::nullopt;
        }
        return static_cast<std::size_t>(queued);
    }

    // Only where output must go: on a pseudo-terminal a flush also drops what the other end
    // has not read yet.
    void DropOutput() override { ::tcflush(m_fd, TCOFLUSH); }

    void ReleaseSystem() override {
        ::ioctl(m_fd, TIOCNXCL);
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
        ::close(m_wakeRead);
        ::close(m_wakeWrite);
    }

    const int m_fd;
    const int m_wakeRead;
    const int m_wakeWrite;
};

}  // namespace

SerialOpenResult SystemSerialPortOpener::Open(const std::filesystem::path& device,
                                              std::uint32_t baud) {
    const auto speed = SpeedOf(baud);
    if (!speed) {
        return OpenFailure(EINVAL, "no such baud rate: " + std::to_string(baud));
    }

    OpenSteps steps;
    steps.fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (steps.fd < 0) {
        const int error = errno;
        // A terminal another program holds with TIOCEXCL refuses the open itself.
        return error == EBUSY ? OpenFailure(EBUSY, "held by another program") : OpenFailure(error);
    }
    termios tio{};
    // Checked before locking, so that a mistaken path never takes a lock on a shared file.
    if (::tcgetattr(steps.fd, &tio) != 0) {
        return OpenFailure(ENOTTY, "not a serial port");
    }
    // TIOCEXCL alone does not stop root nor a second open in this process; the lock does.
    if (::flock(steps.fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        return error == EWOULDBLOCK ? OpenFailure(EBUSY, "held by another program")
                                    : OpenFailure(error);
    }
    steps.locked = true;
    if (::ioctl(steps.fd, TIOCEXCL) != 0) {
        return OpenFailure(errno);
    }
    steps.exclusive = true;

    // Raw 8N1: the loader's frames carry every byte value, so nothing may be translated,
    // stripped, echoed or taken as flow control. Hardware flow control stays as the
    // operator set it up.
    tio.c_iflag = 0;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, *speed) != 0 || ::cfsetospeed(&tio, *speed) != 0) {
        return OpenFailure(errno);
    }
    if (::tcsetattr(steps.fd, TCSANOW, &tio) != 0) {
        return OpenFailure(errno);
    }
    // Whatever the line caught before we configured it is noise. Only input: the output
    // queue of a port just opened holds nothing of ours (a close drains it), and on a
    // pseudo-terminal flushing it would drop what an earlier opening wrote and the other
    // end has not read yet.
    if (::tcflush(steps.fd, TCIFLUSH) != 0) {
        return OpenFailure(errno);
    }
    if (::pipe2(steps.wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        return OpenFailure(errno);
    }

    auto port = std::make_shared<PosixSerialPort>(m_clock, m_writeStallLimit, steps.fd,
                                                  steps.wake[0], steps.wake[1]);
    steps.HandOver();
    return {std::move(port), {}};
}

}  // namespace tarvik
