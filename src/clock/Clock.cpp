#include "clock/Clock.h"

#include <thread>

namespace tarvik {

Clock::TimePoint SteadyClock::Now() const {
    return std::chrono::steady_clock::now();
}

void SteadyClock::SleepFor(Duration d) const {
    std::this_thread::sleep_for(d);
}

void SteadyClock::SleepUntil(TimePoint t) const {
    std::this_thread::sleep_until(t);
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
    std::this_thread::sleep_for(RealDuration(d));
}

void ScaledClock::SleepUntil(TimePoint t) const {
    const auto now = Now();
    if (t > now) {
        std::this_thread::sleep_for(
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
