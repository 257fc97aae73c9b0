#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tarvik::cli {

// Where the command line's views read the time; tests hand in a time line of their own.
using TimePoint = std::chrono::steady_clock::time_point;
using TimeSource = std::function<TimePoint()>;
TimeSource RealTime();

// How fast a download's blocks go in and how long the rest will take, from the times their
// acknowledgements arrive. The rate runs from the first acknowledgement, so that the pauses
// before the first block do not drag it down; for the first block alone it runs from the
// download's start, when that is known.
class TransferRate {
public:
    // The download starts; whatever an earlier one acknowledged is forgotten.
    void Start(TimePoint at);
    // `done` of `total` blocks acknowledged so far, carrying `bytes` of the image.
    void Block(std::uint32_t done, std::uint32_t total, std::uint64_t bytes, TimePoint at);

    std::uint32_t Done() const { return m_done; }
    std::uint32_t Total() const { return m_total; }
    std::uint64_t Bytes() const { return m_bytes; }
    bool Complete() const { return m_total > 0 && m_done == m_total; }
    // Bytes a second, once there is a stretch of time to tell it from.
    std::optional<double> BytesPerSecond() const;
    std::optional<double> SecondsLeft() const;
    // From the start (or the first acknowledgement) to the last acknowledgement.
    double Seconds() const;

    // "11.1 KiB/s  0:06 left", or nothing while the rate is unknown.
    std::string RateText() const;
    // "262144 bytes in 23.1 s (11.1 KiB/s)": how much went in how long.
    std::string TotalText() const;

private:
    std::optional<TimePoint> m_start;
    std::optional<TimePoint> m_firstAt;
    std::uint64_t m_firstBytes = 0;
    TimePoint m_lastAt;
    std::uint32_t m_done = 0;
    std::uint32_t m_total = 0;
    std::uint64_t m_bytes = 0;
};

}  // namespace tarvik::cli
