#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "clock/Clock.h"
#include "serial/PortGate.h"
#include "serial/SerialPort.h"

namespace tarvik {

// What the system's serial ports (termios, the Win32 comm calls) share: every operation passes
// the port's gate, so that a close wakes it and waits it out; a read keeps the loader's
// time-out rules; a close lets queued output drain while the line takes it. A port of the
// system supplies the waits and transfers below, and calls Close() in its own destructor,
// while it is still whole.
class GatedSerialPort : public SerialPort {
public:
    std::optional<std::size_t> Read(std::span<std::uint8_t> buf) final;
    bool Write(std::span<const std::uint8_t> data) final;
    void Purge() final;
    void Close() final { Release(false); }
    void Abort() final { Release(true); }
    bool IsOpen() const final { return m_gate.IsOpen(); }

    GatedSerialPort(const GatedSerialPort&) = delete;
    GatedSerialPort& operator=(const GatedSerialPort&) = delete;

protected:
    GatedSerialPort(const Clock& clock, Clock::Duration writeStallLimit)
        : m_clock(clock), m_writeStallLimit(writeStallLimit) {}

    // Waits for input until `deadline` at the latest and reads what has come into `rest`:
    // the count, 0 when nothing came (the read then looks at the time again), nothing when
    // the port failed or was closed.
    virtual std::optional<std::size_t> ReadSome(std::span<std::uint8_t> rest, Clock::TimePoint now,
                                                Clock::TimePoint deadline) = 0;
    // Blocks until the system has taken all of `data`; false when the port failed or was
    // closed, or the line took nothing for the write stall limit.
    virtual bool WriteAll(std::span<const std::uint8_t> data) = 0;
    virtual void PurgeQueues() = 0;
    // From now on every wait inside an operation ends at once. Runs under the gate's lock.
    virtual void WakeWaits() = 0;
    // The bytes still queued for output; nothing when the system cannot tell.
    virtual std::optional<std::size_t> OutputQueued() const = 0;
    virtual void DropOutput() = 0;
    // Gives back to the system what the port holds. Nothing is inside and nothing can enter.
    virtual void ReleaseSystem() = 0;

    // The milliseconds to hand the system for a wait until `deadline` on the clock: at least
    // 1 while any time remains, so that a fast clock never turns the wait into a busy loop,
    // and at most INT_MAX, which every system's wait takes.
    int WaitMilliseconds(Clock::TimePoint now, Clock::TimePoint deadline) const;

    const Clock& m_clock;
    const Clock::Duration m_writeStallLimit;

private:
    void Release(bool dropOutput);
    bool DrainOutput() const;

    PortGate m_gate;
};

}  // namespace tarvik
