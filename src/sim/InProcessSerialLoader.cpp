#include "sim/InProcessSerialLoader.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "sim/SerialLoaderCore.h"

namespace tarvik::sim {

namespace {

const std::filesystem::path kDeviceName = "SIM-COM";

SerialOpenResult Failure(int error, const std::string& why) {
    return {nullptr, {error, std::generic_category().message(error) + " (" + why + ")", {}}};
}

}  // namespace

// The line between the tool's port and the loader: what the tool wrote and the loader has not
// read yet, each byte with its rate, and what the loader answered and the tool has not read.
// One lock and one condition for everything, the loader's thread and the ports alike.
struct InProcessSerialLoader::Line {
    struct Sent {
        std::uint8_t byte;
        std::uint32_t baud;
    };

    std::mutex lock;
    std::condition_variable changed;
    std::deque<Sent> toLoader;
    std::deque<std::uint8_t> toTool;
    std::uint32_t baud = 0;  // the rate of the port open now, or last
    bool portOpen = false;   // a port holds the line
    bool held = false;       // the loader holds the line: the tool's writes take nothing
    bool unplugged = false;  // the loader is gone: every port fails
    bool stopping = false;   // the loader's thread is asked to end
};

// How long a wait for `deadline` on `clock` lasts in real time: at least a millisecond, so
// that a fast clock never spins.
template <typename Lock>
void WaitOn(std::condition_variable& changed, Lock& lock, const Clock& clock,
            Clock::TimePoint deadline) {
    const auto remaining = std::chrono::ceil<Clock::Duration>(deadline - clock.Now());
    const auto real = std::max<std::chrono::microseconds>(clock.RealDuration(remaining),
                                                          std::chrono::milliseconds(1));
    changed.wait_for(lock, real);
}

class InProcessSerialLoader::Port final : public SerialPort {
public:
    Port(std::shared_ptr<Line> line, const Clock& clock, Clock::Duration writeStallLimit,
         std::uint32_t baud)
        : m_line(std::move(line)),
          m_clock(clock),
          m_writeStallLimit(writeStallLimit),
          m_baud(baud) {}

    ~Port() override { Close(); }
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    std::optional<std::size_t> Read(std::span<std::uint8_t> buf) override {
        std::unique_lock lock(m_line->lock);
        if (Gone()) {
            return std::nullopt;
        }
        const std::size_t n = buf.size();
        const auto total = m_clock.Now() + ReadTimeOut(n);
        std::size_t got = 0;
        Clock::TimePoint lastByte{};
        while (got < n) {
            if (!m_line->toTool.empty()) {
                const std::size_t k = std::min(n - got, m_line->toTool.size());
                std::copy_n(m_line->toTool.begin(), k,
                            buf.begin() + static_cast<std::ptrdiff_t>(got));
                m_line->toTool.erase(m_line->toTool.begin(),
                                     m_line->toTool.begin() + static_cast<std::ptrdiff_t>(k));
                got += k;
                lastByte = m_clock.Now();
                continue;
            }
            const auto deadline = got > 0 ? std::min(total, lastByte + kReadGap) : total;
            if (m_clock.Now() >= deadline) {
                break;
            }
            WaitOn(m_line->changed, lock, m_clock, deadline);
            if (Gone()) {
                return std::nullopt;
            }
        }
        return got;
    }

    bool Write(std::span<const std::uint8_t> data) override {
        std::unique_lock lock(m_line->lock);
        const auto stalledAt = m_clock.Now() + m_writeStallLimit;
        while (!Gone()) {
            if (!m_line->held) {
                for (const std::uint8_t byte : data) {
                    m_line->toLoader.push_back({byte, m_baud});
                }
                m_line->changed.notify_all();
                return true;
            }
            if (m_clock.Now() >= stalledAt) {
                return false;  // the line has taken nothing for too long
            }
            WaitOn(m_line->changed, lock, m_clock, stalledAt);
        }
        return false;
    }

    void Purge() override {
        std::lock_guard lock(m_line->lock);
        if (!Gone()) {
            m_line->toLoader.clear();
            m_line->toTool.clear();
        }
    }

    void Close() override { Release(false); }

    void Abort() override { Release(true); }

    bool IsOpen() const override {
        std::lock_guard lock(m_line->lock);
        return !m_closed;
    }

private:
    // Under the line's lock.
    bool Gone() const { return m_closed || m_line->unplugged; }

    void Release(bool dropOutput) {
        std::unique_lock lock(m_line->lock);
        if (m_closed) {
            return;
        }
        m_closed = true;
        m_line->changed.notify_all();  // wakes this port's blocked reads and writes
        // What the tool wrote goes down the line while the loader takes it, or is dropped.
        auto stalledAt = m_clock.Now() + m_writeStallLimit;
        std::size_t queued = m_line->toLoader.size();
        while (!dropOutput && queued > 0 && !m_line->unplugged && m_clock.Now() < stalledAt) {
            WaitOn(m_line->changed, lock, m_clock, stalledAt);
            if (m_line->toLoader.size() < queued) {
                stalledAt = m_clock.Now() + m_writeStallLimit;
            }
            queued = m_line->toLoader.size();
        }
        m_line->toLoader.clear();
        m_line->portOpen = false;
        m_line->changed.notify_all();
    }

    const std::shared_ptr<Line> m_line;
    const Clock& m_clock;
    const Clock::Duration m_writeStallLimit;
    const std::uint32_t m_baud;
    bool m_closed = false;  // under the line's lock
};

// The loader's thread: it takes what the tool wrote off the line, run by run of one rate, and
// answers onto it.
struct InProcessSerialLoader::Impl final : SerialLoaderCore {
    Impl(SerialLoaderOptions options, std::shared_ptr<Line> line)
        : SerialLoaderCore(std::move(options)), m_line(std::move(line)) {
        m_thread = std::thread([this] { Run(); });
    }

    ~Impl() override {
        Stop();
        {
            std::lock_guard lock(m_line->lock);
            m_line->stopping = true;
            m_line->changed.notify_all();
        }
        m_thread.join();
        std::lock_guard lock(m_line->lock);
        m_line->unplugged = true;
        m_line->changed.notify_all();
    }

    void Run() {
        std::vector<Line::Sent> taken;
        std::vector<std::uint8_t> run;
        std::unique_lock lock(m_line->lock);
        while (!m_line->stopping) {
            if (m_line->toLoader.empty()) {
                if (Holding()) {
                    m_line->changed.wait_for(lock, kSlice);
                } else {
                    m_line->changed.wait(lock);
                }
            }
            taken.assign(m_line->toLoader.begin(), m_line->toLoader.end());
            m_line->toLoader.clear();
            m_line->changed.notify_all();  // a closing port waits for the line to empty
            lock.unlock();
            for (std::size_t i = 0; i < taken.size();) {
                run.clear();
                const std::uint32_t baud = taken[i].baud;
                for (; i < taken.size() && taken[i].baud == baud; ++i) {
                    run.push_back(taken[i].byte);
                }
                TakeBytes(run, baud);
            }
            CutShortIfQuiet();
            lock.lock();
        }
    }

    void Put(std::span<const std::uint8_t> bytes) override {
        std::lock_guard lock(m_line->lock);
        m_line->toTool.insert(m_line->toTool.end(), bytes.begin(), bytes.end());
        m_line->changed.notify_all();
    }

    std::uint32_t LineBaud() const override {
        std::lock_guard lock(m_line->lock);
        return m_line->baud;
    }

    void HoldLine() override {
        std::lock_guard lock(m_line->lock);
        m_line->held = true;
    }

    const std::shared_ptr<Line> m_line;
    std::thread m_thread;  // last: it starts once everything it uses is there
};

InProcessSerialLoader::InProcessSerialLoader(SerialLoaderOptions options,
                                             Clock::Duration writeStallLimit)
    : m_clock(*options.clock),
      m_writeStallLimit(writeStallLimit),
      m_line(std::make_shared<Line>()),
      m_impl(std::make_unique<Impl>(std::move(options), m_line)) {}

InProcessSerialLoader::~InProcessSerialLoader() = default;

std::filesystem::path InProcessSerialLoader::DevicePath() const {
    return kDeviceName;
}

SerialOpenResult InProcessSerialLoader::Open(const std::filesystem::path& device,
                                             std::uint32_t baud) {
    if (device != kDeviceName) {
        return Failure(ENOENT, "does not exist");
    }
    if (baud == 0) {
        return Failure(EINVAL, "no such baud rate: 0");
    }
    std::lock_guard lock(m_line->lock);
    if (m_line->unplugged) {
        return Failure(ENOENT, "does not exist");
    }
    if (m_line->portOpen) {
        return Failure(EBUSY, "held by another program");
    }
    m_line->portOpen = true;
    m_line->baud = baud;
    // Whatever the loader said while nobody listened is gone, as a fresh port purges its input.
    m_line->toTool.clear();
    return {std::make_shared<Port>(m_line, m_clock, m_writeStallLimit, baud), {}};
}

std::vector<std::string> InProcessSerialLoader::Log() const {
    return m_impl->History().Log();
}

std::vector<std::string> InProcessSerialLoader::Errors() const {
    return m_impl->History().Errors();
}

std::vector<std::uint16_t> InProcessSerialLoader::Pages() const {
    return m_impl->History().Pages();
}

std::vector<std::uint8_t> InProcessSerialLoader::Flashed() const {
    return m_impl->History().Flashed();
}

bool InProcessSerialLoader::Rebooted() const {
    return m_impl->Rebooted();
}

std::vector<std::string> InProcessSerialLoader::MaintenanceFrames() const {
    return m_impl->MaintenanceFrames();
}

bool InProcessSerialLoader::WaitForLog(const std::string& entry,
                                       std::chrono::milliseconds timeout) const {
    return m_impl->History().WaitForLog(entry, timeout);
}

}  // namespace tarvik::sim
