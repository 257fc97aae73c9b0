#include "clock/Clock.h"

#include <thread>

namespace tarvik {
namespace {

// Sleeps at least `d` of real time. Windows sleeps in whole milliseconds and makes a shorter
// sleep none at all, which would turn a fast clock's polls into a busy loop: rounded up.
void SleepReal(std::chrono::nanoseconds d) {
#ifdef _WIN32
    d = std::chrono::ceil<std::chrono::milliseconds>(d);
#endif
    std::this_thread::sleep_for(d);
}

// Sleeps until `t` of real time. Where the system sleeps in whole milliseconds, the last
// stretch shorter than that is spent yielding, so that paced simulations keep their steps.
void SleepRealUntil(std::chrono::steady_clock::time_point t) {
#ifdef _WIN32
    constexpr auto kGrain = std::chrono::milliseconds(2);
    for (auto left = t - std::chrono::steady_clock::now(); left.count() > 0;
         left = t - std::chrono::steady_clock::now()) {
        if (left > kGrain) {
            std::this_thread::sleep_for(
                std::chrono::floor<std::chrono::milliseconds>(left - kGrain));
        } else {
            std::this_thread::yield();
        }
    }
#else
    std::this_thread::sleep_until(t);
#endif
}

}  // namespace

Clock::TimePoint SteadyClock::Now() const {
    return std::chrono::steady_clock::now();
}

void SteadyClock::SleepFor(Duration d) const {
    SleepReal(d);
}

void SteadyClock::SleepUntil(TimePoint t) const {
    SleepRealUntil(t);
}

std::chrono::microseconds SteadyClock::RealDuration(Duration d) const {
    return d;
}

ScaledClock::ScaledClock(double factor)
    : m_factor(factor), m_origin(std::chrono::steady_clock::now()) {}

Clock::TimePoint ScaledClock::Now() const {
    const auto real = std::chrono::steady_clock::now() - m_origin;
    return m_origin +
           std::chrono::duration_cast<std::chrono::steady_clock::duration>(real * m_factor);
}

void ScaledClock::SleepFor(Duration d) const {
    SleepReal(RealDuration(d));
}

void ScaledClock::SleepUntil(TimePoint t) const {
    const auto now = Now();
    if (t > now) {
        SleepRealUntil(std::chrono::steady_clock::now() +
                       std::chrono::duration_cast<std::chrono::nanoseconds>((t - now) / m_factor));
    }
}

std::chrono::microseconds ScaledClock::RealDuration(Duration d) const {
    return std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::duration<double, std::micro>(d) / m_factor);
}

const Clock& RealClock() {
    static const SteadyClock clock;
    return clock;
}

}  // namespace tarvik
