#pragma once

#include <chrono>

namespace tarvik {

// Every sleep and deadline of the tool goes through a Clock, so that tests can run a
// 5-second time-out in a fraction of that. Time is steady: never wall time, never wrapping.
class Clock {
public:
    using Duration = std::chrono::milliseconds;
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~Clock() = default;

    virtual TimePoint Now() const = 0;
    virtual void SleepFor(Duration d) const = 0;
    // Sleeps until `t`, as precisely as the system allows: paced simulations need finer
    // steps than whole milliseconds.
    virtual void SleepUntil(TimePoint t) const = 0;

    // How long a wait of `d` on this clock lasts in real time; links use it for the time-outs
    // they hand to the operating system.
    virtual std::chrono::microseconds RealDuration(Duration d) const = 0;
};

// The real clock.
class SteadyClock final : public Clock {
public:
    TimePoint Now() const override;
    void SleepFor(Duration d) const override;
    void SleepUntil(TimePoint t) const override;
    std::chrono::microseconds RealDuration(Duration d) const override;
};

// A clock that runs `factor` times faster than real time, for tests and the simulators.
class ScaledClock final : public Clock {
public:
    explicit ScaledClock(double factor);

    TimePoint Now() const override;
    void SleepFor(Duration d) const override;
    void SleepUntil(TimePoint t) const override;
    std::chrono::microseconds RealDuration(Duration d) const override;

private:
    double m_factor;
    std::chrono::steady_clock::time_point m_origin;
};

// The process's real clock.
const Clock& RealClock();

}  // namespace tarvik
