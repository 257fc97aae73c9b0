#include "sim/SerialLoaderSim.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <span>
#include <system_error>
#include <thread>
#include <utility>

#include "sim/Pty.h"
#include "sim/SerialLoaderCore.h"

namespace tarvik::sim {

namespace {

// The stop request: a byte in a pipe wakes the thread out of poll.
class StopPipe {
public:
    StopPipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
            throw std::system_error(errno, std::generic_category(), "pipe2");
        }
        m_read = fds[0];
        m_write = fds[1];
    }
    ~StopPipe() {
        ::close(m_read);
        ::close(m_write);
    }
    StopPipe(const StopPipe&) = delete;
    StopPipe& operator=(const StopPipe&) = delete;

    int ReadFd() const { return m_read; }
    void Signal() const {
        const std::uint8_t byte = 0;
        // A full pipe already holds a request.
        [[maybe_unused]] const auto written = ::write(m_write, &byte, 1);
    }

private:
    int m_read = -1;
    int m_write = -1;
};

}  // namespace

// The loader's thread: it reads the pseudo-terminal and hands the bytes to the loader with the
// rate the tool has set; the loader answers through the pseudo-terminal.
struct SerialLoaderSim::Impl final : SerialLoaderCore {
    explicit Impl(SerialLoaderOptions options);
    ~Impl() override;

    void Run();
    void Put(std::span<const std::uint8_t> bytes) override;
    std::uint32_t LineBaud() const override { return m_pty.SlaveBaud(); }
    void HoldLine() override { m_pty.SuspendSlaveOutput(); }

    Pty m_pty;
    StopPipe m_stop;
    std::thread m_thread;  // last: it starts once everything it uses is there
};

SerialLoaderSim::Impl::Impl(SerialLoaderOptions options) : SerialLoaderCore(std::move(options)) {
    m_thread = std::thread([this] { Run(); });
}

SerialLoaderSim::Impl::~Impl() {
    Stop();
    m_stop.Signal();
    m_thread.join();
}

void SerialLoaderSim::Impl::Run() {
    std::array<std::uint8_t, 4096> buffer;
    bool lineDown = false;
    while (!Stopping()) {
        std::array<pollfd, 2> fds = {pollfd{m_stop.ReadFd(), POLLIN, 0},
                                     pollfd{m_pty.MasterFd(), POLLIN, 0}};
        // With no slave open a master reports hang-up at once; wait a slice instead of spinning.
        const nfds_t count = lineDown ? 1 : 2;
        const bool slice = lineDown || Holding();
        const int ready = ::poll(fds.data(), count, slice ? static_cast<int>(kSlice.count()) : -1);
        if ((ready < 0 && errno != EINTR) || fds[0].revents != 0) {
            return;
        }
        lineDown = false;
        if (ready > 0 && fds[1].revents != 0) {
            const ssize_t got = ::read(m_pty.MasterFd(), buffer.data(), buffer.size());
            if (got > 0) {
                // The rate as the tool has it set now, when the bytes are read.
                TakeBytes(std::span(buffer.data(), static_cast<std::size_t>(got)),
                          m_pty.SlaveBaud());
            } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                lineDown = true;
            }
        }
        CutShortIfQuiet();
    }
}

void SerialLoaderSim::Impl::Put(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty() && !Stopping()) {
        const ssize_t written = ::write(m_pty.MasterFd(), bytes.data(), bytes.size());
        if (written > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(written));
        } else if (written < 0 && errno == EAGAIN) {
            // The tool is not reading. A pty master reports room to write even when it has
            // none, so try again a slice later, or give up on the stop request.
            pollfd stop{m_stop.ReadFd(), POLLIN, 0};
            if (::poll(&stop, 1, static_cast<int>(kSlice.count())) != 0) {
                return;
            }
        } else if (written == 0 || errno != EINTR) {
            return;  // the line is gone: the tool hears nothing
        }
    }
}

SerialLoaderSim::SerialLoaderSim(SerialLoaderOptions options)
    : m_impl(std::make_unique<Impl>(std::move(options))) {}

SerialLoaderSim::~SerialLoaderSim() = default;

std::filesystem::path SerialLoaderSim::DevicePath() const {
    return m_impl->m_pty.SlavePath();
}

std::vector<std::string> SerialLoaderSim::Log() const {
    return m_impl->History().Log();
}

std::vector<std::string> SerialLoaderSim::Errors() const {
    return m_impl->History().Errors();
}

std::vector<std::uint16_t> SerialLoaderSim::Pages() const {
    return m_impl->History().Pages();
}

std::vector<std::uint8_t> SerialLoaderSim::Flashed() const {
    return m_impl->History().Flashed();
}

bool SerialLoaderSim::Rebooted() const {
    return m_impl->Rebooted();
}

std::vector<std::string> SerialLoaderSim::MaintenanceFrames() const {
    return m_impl->MaintenanceFrames();
}

bool SerialLoaderSim::WaitForLog(const std::string& entry,
                                 std::chrono::milliseconds timeout) const {
    return m_impl->History().WaitForLog(entry, timeout);
}

}  // namespace tarvik::sim
