#include "cli/TransferRate.h"

#include <cmath>
#include <cstdio>

#include "clock/Clock.h"

namespace tarvik::cli {
namespace {

constexpr double kKiB = 1024.0;

double SecondsBetween(TimePoint from, TimePoint to) {
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace

TimeSource RealTime() {
    return [] { return RealClock().Now(); };
}

void TransferRate::Start(TimePoint at) {
    *this = TransferRate();
    m_start = at;
}

void TransferRate::Block(std::uint32_t done, std::uint32_t total, std::uint64_t bytes,
                         TimePoint at) {
    if (!m_firstAt) {
        m_firstAt = at;
        m_firstBytes = bytes;
    }
    m_lastAt = at;
    m_done = done;
    m_total = total;
    m_bytes = bytes;
}

std::optional<double> TransferRate::BytesPerSecond() const {
    if (!m_firstAt) {
        return std::nullopt;
    }
    double seconds = SecondsBetween(*m_firstAt, m_lastAt);
    std::uint64_t bytes = m_bytes - m_firstBytes;
    if (seconds <= 0 && m_start) {
        // The first block alone: it took the time since the download began.
        seconds = SecondsBetween(*m_start, m_lastAt);
        bytes = m_bytes;
    }
    if (seconds <= 0 || bytes == 0) {
        return std::nullopt;
    }
    return static_cast<double>(bytes) / seconds;
}

std::optional<double> TransferRate::SecondsLeft() const {
    const auto rate = BytesPerSecond();
    if (!rate || m_done == 0) {
        return std::nullopt;
    }
    // Every block carries as much as the ones before it did.
    const std::uint32_t blocksLeft = m_total > m_done ? m_total - m_done : 0;
    const double left = static_cast<double>(m_bytes) / m_done * blocksLeft;
    return left / *rate;
}

double TransferRate::Seconds() const {
    if (!m_firstAt) {
        return 0;
    }
    return SecondsBetween(m_start ? *m_start : *m_firstAt, m_lastAt);
}

std::string TransferRate::RateText() const {
    const auto rate = BytesPerSecond();
    const auto left = SecondsLeft();
    if (!rate || !left) {
        return {};
    }
    const long seconds = std::lround(*left);
    char text[64];
    std::snprintf(text, sizeof text, "%.1f KiB/s  %ld:%02ld left", *rate / kKiB, seconds / 60,
                  seconds % 60);
    return text;
}

std::string TransferRate::TotalText() const {
    char text[96];
    const double seconds = Seconds();
    int length = std::snprintf(text, sizeof text, "%llu bytes in %.1f s",
                               static_cast<unsigned long long>(m_bytes), seconds);
    if (seconds > 0) {
        std::snprintf(text + length, sizeof text - static_cast<std::size_t>(length),
                      " (%.1f KiB/s)", static_cast<double>(m_bytes) / seconds / kKiB);
    }
    return text;
}

}  // namespace tarvik::cli
