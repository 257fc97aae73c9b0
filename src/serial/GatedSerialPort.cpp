#include "serial/GatedSerialPort.h"

#include <algorithm>
#include <limits>

namespace tarvik {
namespace {

// How often a closing port looks at the output queue while it drains, on the clock.
constexpr Clock::Duration kDrainPoll{5};

}  // namespace

std::optional<std::size_t> GatedSerialPort::Read(std::span<std::uint8_t> buf) {
    const PortGate::Use use(m_gate);
    if (!use) {
        return std::nullopt;
    }
    const std::size_t n = buf.size();
    if (n == 0) {
        return 0;
    }
    const auto total = m_clock.Now() + ReadTimeOut(n);
    std::size_t got = 0;
    Clock::TimePoint lastByte{};
    for (;;) {
        const auto now = m_clock.Now();
        const auto deadline = got > 0 ? std::min(total, lastByte + kReadGap) : total;
        if (now >= deadline) {
            return got;
        }
        const auto k = ReadSome(buf.subspan(got), now, deadline);
        if (!k) {
            return std::nullopt;
        }
        if (*k > 0) {
            got += *k;
            lastByte = m_clock.Now();  // the gap counts from the arrival of the last byte
            if (got == n) {
                return got;
            }
        }
    }
}

bool GatedSerialPort::Write(std::span<const std::uint8_t> data) {
    const PortGate::Use use(m_gate);
    return use && WriteAll(data);
}

void GatedSerialPort::Purge() {
    const PortGate::Use use(m_gate);
    if (use) {
        PurgeQueues();
    }
}

int GatedSerialPort::WaitMilliseconds(Clock::TimePoint now, Clock::TimePoint deadline) const {
    const auto remaining = std::chrono::ceil<Clock::Duration>(deadline - now);
    const auto real = std::chrono::ceil<std::chrono::milliseconds>(m_clock.RealDuration(remaining));
    return static_cast<int>(
        std::clamp<std::int64_t>(real.count(), 1, std::numeric_limits<int>::max()));
}

void GatedSerialPort::Release(bool dropOutput) {
    m_gate.Close([this] { WakeWaits(); },
                 [this, dropOutput] {
                     // The system's own close waits for queued output to drain, on some
                     // adapters for half a minute when the line is held: it drains here, under
                     // the stall limit, or is dropped.
                     if (dropOutput || !DrainOutput()) {
                         DropOutput();
                     }
                     ReleaseSystem();
                 });
}

// Waits while the output queue shrinks; false once it has not for the stall limit.
bool GatedSerialPort::DrainOutput() const {
    auto stalledAt = m_clock.Now() + m_writeStallLimit;
    auto queued = OutputQueued();
    while (queued && *queued > 0) {
        if (m_clock.Now() >= stalledAt) {
            return false;
        }
        m_clock.SleepFor(kDrainPoll);
        const auto now = OutputQueued();
        if (now && *now < *queued) {
            stalledAt = m_clock.Now() + m_writeStallLimit;
        }
        queued = now;
    }
    return true;
}

}  // namespace tarvik
