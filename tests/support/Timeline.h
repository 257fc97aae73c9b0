#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "clock/Clock.h"
#include "serial/SerialPort.h"

namespace tarvik::test {

// One time line per thread: every sleep taken on the clock ("sleep 150"), and whatever else
// the test notes there (bytes written, the view's events), in the order they happened. The
// time itself comes from the inner clock, so the devices on the other side see real pacing.
// A test asserts the exact sequence "tx A5, sleep 150, ..." a thread went through.
class TimelineClock final : public Clock {
public:
    explicit TimelineClock(const Clock& inner) : m_inner(inner) {}

    TimePoint Now() const override { return m_inner.Now(); }
    void SleepFor(Duration d) const override;
    void SleepUntil(TimePoint t) const override { m_inner.SleepUntil(t); }
    std::chrono::microseconds RealDuration(Duration d) const override {
        return m_inner.RealDuration(d);
    }

    // Adds `entry` to the calling thread's line.
    void Note(std::string entry) const;
    // The lines, in the order their threads first noted anything; neighbouring "tx" (and
    // "rx") entries are joined into one ("tx 55 43 4C 52 55").
    std::vector<std::vector<std::string>> Lanes() const;
    // The first line holding `entry`; empty when none does.
    std::vector<std::string> LaneWith(const std::string& entry) const;

private:
    const Clock& m_inner;
    mutable std::mutex m_lock;
    mutable std::vector<std::thread::id> m_order;
    mutable std::map<std::thread::id, std::vector<std::string>> m_lanes;
};

// Opens ports through `inner` and notes on the time line what each does: "open <baud>",
// "tx <hex>" for a write, "rx <hex>" for what a read brought, "purge", "close", "abort".
class TimelinePortOpener final : public SerialPortOpener {
public:
    TimelinePortOpener(SerialPortOpener& inner, const TimelineClock& timeline)
        : m_inner(inner), m_timeline(timeline) {}
    SerialOpenResult Open(const std::filesystem::path& device, std::uint32_t baud) override;

private:
    SerialPortOpener& m_inner;
    const TimelineClock& m_timeline;
};

}  // namespace tarvik::test
