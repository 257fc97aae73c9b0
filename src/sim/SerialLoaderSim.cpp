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

#include "sim/LoaderRecord.h"
#include "sim/MaintenanceProtocol.h"
#include "sim/Pty.h"
#include "sim/SerialLoaderProtocol.h"

namespace tarvik::sim {

namespace {

// Start bit, eight data bits, stop bit.
constexpr int kBitsPerByte = 10;

// A message begun and then left alone this long is taken as cut short: a second on the
// loader's clock, and never less than half a second of real time, so that a busy machine
// cannot split a frame that the tool wrote whole.
constexpr Clock::Duration kQuietLimit{1000};
constexpr auto kQuietLimitReal = std::chrono::milliseconds(500);
// A raw text frame ends where the line pauses: this long on the loader's clock, and never
// less than kPauseReal of real time, so that a write is not split where the tool made none.
constexpr Clock::Duration kPause{20};
constexpr auto kPauseReal = std::chrono::milliseconds(10);
// The longest the thread goes without looking at the stop request, in real time.
constexpr auto kSlice = std::chrono::milliseconds(10);

std::chrono::nanoseconds ByteTime(std::uint32_t baud) {
    if (baud == 0) {
        return std::chrono::nanoseconds(0);
    }
    return std::chrono::nanoseconds(std::int64_t{kBitsPerByte} * 1'000'000'000 / baud);
}

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

// The loader's thread: it reads the pseudo-terminal, hands each byte to the protocol with
// the rate the tool has set, and gives the protocol its pacing, its answers and its record.
// Settle, Error and Send serve both protocols.
struct SerialLoaderSim::Impl final : SerialLoaderProtocol::Host, MaintenanceProtocol::Host {
    explicit Impl(SerialLoaderOptions options);
    ~Impl() override;

    void Run();
    void TakeByte(std::uint8_t byte, std::uint32_t baud);
    void CutShortIfQuiet();
    bool SleepUntil(Clock::TimePoint due) const;
    void WriteAll(std::span<const std::uint8_t> bytes) const;

    void Settle() override;
    void Log(std::string entry) override { m_record.AddLog(std::move(entry)); }
    void Error(std::string text) override { m_record.AddError(std::move(text)); }
    void Erase() override { m_record.Erase(); }
    void Record(std::uint16_t page, std::span<const std::uint8_t> data) override {
        m_record.AddBlock(page, data);
    }
    void Reboot() override { m_rebooted = true; }
    void HoldLine() override { m_pty.SuspendSlaveOutput(); }
    bool Wait(Clock::Duration delay) override { return SleepUntil(m_clock.Now() + delay); }
    void Send(std::span<const std::uint8_t> bytes) override;
    void Frame(std::string entry) override {
        const std::scoped_lock lock(m_framesLock);
        m_frames.push_back(std::move(entry));
    }

    const Clock& m_clock;
    const SerialLoaderOptions m_options;
    Pty m_pty;
    StopPipe m_stop;
    std::atomic<bool> m_stopping{false};
    // The most a single sleep on the clock may last, so that it ends within kSlice.
    std::chrono::steady_clock::duration m_sleepSlice = std::chrono::hours(1);

    // What the tests read.
    LoaderRecord m_record;
    std::atomic<bool> m_rebooted{false};
    mutable std::mutex m_framesLock;
    std::vector<std::string> m_frames;  // the maintenance frames, under m_framesLock

    // The loader thread's own.
    SerialLoaderProtocol m_protocol;
    MaintenanceProtocol m_maintenance;
    Clock::TimePoint m_frameAt;  // the held maintenance frame's last byte, likewise
    std::chrono::steady_clock::time_point m_frameAtReal;
    Clock::TimePoint m_messageAt;  // the held message's last byte, on the clock and in real time
    std::chrono::steady_clock::time_point m_messageAtReal;
    Clock::TimePoint m_wireAt;  // when the last byte received has come down the wire

    std::thread m_thread;  // last: it starts once everything it uses is there
};

SerialLoaderSim::Impl::Impl(SerialLoaderOptions options)
    : m_clock(*options.clock),
      m_options(std::move(options)),
      m_protocol(*this, m_options.answerSearch, m_options.faults),
      m_maintenance(*this, m_options.maintenanceReplies) {
    // A clock whose sleeps take no real time (a test's fake) may sleep in long steps.
    const auto realSecond = m_clock.RealDuration(std::chrono::seconds(1));
    if (realSecond.count() > 0) {
        const double clockPerReal = std::chrono::duration<double>(std::chrono::seconds(1)) /
                                    std::chrono::duration<double>(realSecond);
        m_sleepSlice = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(kSlice) * clockPerReal);
    }
    m_thread = std::thread([this] { Run(); });
}

SerialLoaderSim::Impl::~Impl() {
    m_stopping = true;
    m_stop.Signal();
    m_thread.join();
}

void SerialLoaderSim::Impl::Run() {
    std::array<std::uint8_t, 4096> buffer;
    bool lineDown = false;
    while (!m_stopping) {
        std::array<pollfd, 2> fds = {pollfd{m_stop.ReadFd(), POLLIN, 0},
                                     pollfd{m_pty.MasterFd(), POLLIN, 0}};
        // With no slave open a master reports hang-up at once; wait a slice instead of spinning.
        const nfds_t count = lineDown ? 1 : 2;
        const bool slice = lineDown || m_protocol.Holding() || m_maintenance.Holding();
        const int ready = ::poll(fds.data(), count, slice ? static_cast<int>(kSlice.count()) : -1);
        if ((ready < 0 && errno != EINTR) || fds[0].revents != 0) {
            return;
        }
        lineDown = false;
        if (ready > 0 && fds[1].revents != 0) {
            const ssize_t got = ::read(m_pty.MasterFd(), buffer.data(), buffer.size());
            if (got > 0) {
                // The rate as the tool has it set now, when the bytes are read.
                const std::uint32_t baud = m_pty.SlaveBaud();
                const auto readAt = m_clock.Now();
                for (ssize_t i = 0; i < got && !m_stopping; ++i) {
                    // Each byte comes down the wire after the one before it, and not before
                    // it was read.
                    m_wireAt = std::max(m_wireAt, readAt) + ByteTime(baud);
                    TakeByte(buffer[static_cast<std::size_t>(i)], baud);
                }
            } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                lineDown = true;
            }
        }
        CutShortIfQuiet();
    }
}

// Maintenance frames first: what they do not take is the download's.
void SerialLoaderSim::Impl::TakeByte(std::uint8_t byte, std::uint32_t baud) {
    if (m_maintenance.Take(byte, baud, m_protocol.Downloading())) {
        // A paced line pauses only once the byte has come down it.
        m_frameAt = m_options.paceAtBaud ? m_wireAt : m_clock.Now();
        m_frameAtReal = std::chrono::steady_clock::now();
    } else if (m_protocol.Take(byte, baud)) {
        m_messageAt = m_clock.Now();
        m_messageAtReal = std::chrono::steady_clock::now();
    }
}

void SerialLoaderSim::Impl::CutShortIfQuiet() {
    if (m_maintenance.Holding() && m_clock.Now() - m_frameAt >= kPause &&
        std::chrono::steady_clock::now() - m_frameAtReal >= kPauseReal) {
        m_maintenance.Pause();
    }
    if (m_protocol.Holding() && m_clock.Now() - m_messageAt >= kQuietLimit &&
        std::chrono::steady_clock::now() - m_messageAtReal >= kQuietLimitReal) {
        m_protocol.CutShort();
    }
}

// Sleeps on the clock in slices, so that a stop request is seen; false when it came.
bool SerialLoaderSim::Impl::SleepUntil(Clock::TimePoint due) const {
    while (!m_stopping) {
        const auto now = m_clock.Now();
        if (now >= due) {
            return true;
        }
        m_clock.SleepUntil(due - now > m_sleepSlice ? now + m_sleepSlice : due);
    }
    return false;
}

// The loader acts on a message once its last byte has come down the wire.
void SerialLoaderSim::Impl::Settle() {
    if (m_options.paceAtBaud) {
        SleepUntil(m_wireAt);
    }
}

void SerialLoaderSim::Impl::Send(std::span<const std::uint8_t> bytes) {
    if (!m_options.paceAtBaud) {
        WriteAll(bytes);
        return;
    }
    const auto byteTime = ByteTime(m_pty.SlaveBaud());
    auto due = std::max(m_clock.Now(), m_wireAt);
    for (const std::uint8_t& byte : bytes) {
        due += byteTime;
        if (!SleepUntil(due)) {
            return;
        }
        WriteAll({&byte, 1});
    }
}

void SerialLoaderSim::Impl::WriteAll(std::span<const std::uint8_t> bytes) const {
    while (!bytes.empty() && !m_stopping) {
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
    return m_impl->m_record.Log();
}

std::vector<std::string> SerialLoaderSim::Errors() const {
    return m_impl->m_record.Errors();
}

std::vector<std::uint16_t> SerialLoaderSim::Pages() const {
    return m_impl->m_record.Pages();
}

std::vector<std::uint8_t> SerialLoaderSim::Flashed() const {
    return m_impl->m_record.Flashed();
}

bool SerialLoaderSim::Rebooted() const {
    return m_impl->m_rebooted;
}

std::vector<std::string> SerialLoaderSim::MaintenanceFrames() const {
    const std::scoped_lock lock(m_impl->m_framesLock);
    return m_impl->m_frames;
}

bool SerialLoaderSim::WaitForLog(const std::string& entry,
                                 std::chrono::milliseconds timeout) const {
    return m_impl->m_record.WaitForLog(entry, timeout);
}

}  // namespace tarvik::sim
