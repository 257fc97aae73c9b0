#include "sim/SerialLoaderCore.h"

#include <algorithm>
#include <utility>

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

std::chrono::nanoseconds ByteTime(std::uint32_t baud) {
    if (baud == 0) {
        return std::chrono::nanoseconds(0);
    }
    return std::chrono::nanoseconds(std::int64_t{kBitsPerByte} * 1'000'000'000 / baud);
}

}  // namespace

SerialLoaderCore::SerialLoaderCore(SerialLoaderOptions options)
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
}

void SerialLoaderCore::TakeBytes(std::span<const std::uint8_t> bytes, std::uint32_t baud) {
    const auto readAt = m_clock.Now();
    for (const std::uint8_t byte : bytes) {
        if (m_stopping) {
            return;
        }
        // Each byte comes down the wire after the one before it, and not before it was read.
        m_wireAt = std::max(m_wireAt, readAt) + ByteTime(baud);
        TakeByte(byte, baud);
    }
}

// Maintenance frames first: what they do not take is the download's.
void SerialLoaderCore::TakeByte(std::uint8_t byte, std::uint32_t baud) {
    if (m_maintenance.Take(byte, baud, m_protocol.Downloading())) {
        // A paced line pauses only once the byte has come down it.
        m_frameAt = m_options.paceAtBaud ? m_wireAt : m_clock.Now();
        m_frameAtReal = std::chrono::steady_clock::now();
    } else if (m_protocol.Take(byte, baud)) {
        m_messageAt = m_clock.Now();
        m_messageAtReal = std::chrono::steady_clock::now();
    }
}

void SerialLoaderCore::CutShortIfQuiet() {
    if (m_maintenance.Holding() && m_clock.Now() - m_frameAt >= kPause &&
        std::chrono::steady_clock::now() - m_frameAtReal >= kPauseReal) {
        m_maintenance.Pause();
    }
    if (m_protocol.Holding() && m_clock.Now() - m_messageAt >= kQuietLimit &&
        std::chrono::steady_clock::now() - m_messageAtReal >= kQuietLimitReal) {
        m_protocol.CutShort();
    }
}

std::vector<std::string> SerialLoaderCore::MaintenanceFrames() const {
    const std::scoped_lock lock(m_framesLock);
    return m_frames;
}

void SerialLoaderCore::Frame(std::string entry) {
    const std::scoped_lock lock(m_framesLock);
    m_frames.push_back(std::move(entry));
}

// Sleeps on the clock in slices, so that a stop request is seen; false when it came.
bool SerialLoaderCore::SleepUntil(Clock::TimePoint due) const {
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
void SerialLoaderCore::Settle() {
    if (m_options.paceAtBaud) {
        SleepUntil(m_wireAt);
    }
}

void SerialLoaderCore::Send(std::span<const std::uint8_t> bytes) {
    if (!m_options.paceAtBaud) {
        Put(bytes);
        return;
    }
    const auto byteTime = ByteTime(LineBaud());
    auto due = std::max(m_clock.Now(), m_wireAt);
    for (const std::uint8_t& byte : bytes) {
        due += byteTime;
        if (!SleepUntil(due)) {
            return;
        }
        Put({&byte, 1});
    }
}

}  // namespace tarvik::sim
