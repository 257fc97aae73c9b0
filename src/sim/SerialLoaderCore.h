#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "clock/Clock.h"
#include "sim/LoaderRecord.h"
#include "sim/MaintenanceProtocol.h"
#include "sim/SerialLoaderProtocol.h"
#include "sim/SerialLoaderSim.h"

namespace tarvik::sim {

// The simulated serial loader between its line and its protocols, whatever carries the line
// (a pseudo-terminal, or queues inside the process): it hands each byte to the maintenance
// frames or the download with the rate it came at, paces both directions when asked to, cuts
// short a message the line left alone, and keeps the record the tests read. The carrier reads
// the line on a thread of its own, calls TakeBytes and CutShortIfQuiet from it, and gives the
// loader its way back to the tool (Put), the line's rate and its hold.
class SerialLoaderCore : public SerialLoaderProtocol::Host, public MaintenanceProtocol::Host {
public:
    explicit SerialLoaderCore(SerialLoaderOptions options);
    ~SerialLoaderCore() override = default;
    SerialLoaderCore(const SerialLoaderCore&) = delete;
    SerialLoaderCore& operator=(const SerialLoaderCore&) = delete;

    // Bytes the loader has just read off the line, which the tool sent at `baud`.
    void TakeBytes(std::span<const std::uint8_t> bytes, std::uint32_t baud);
    // Ends a message that the line has left alone too long.
    void CutShortIfQuiet();
    // A message is held: the carrier must come back within a slice even when the line is quiet.
    bool Holding() const { return m_protocol.Holding() || m_maintenance.Holding(); }
    // The longest the carrier's thread may go without looking at the stop request.
    static constexpr auto kSlice = std::chrono::milliseconds(10);

    // From now on every wait of the loader ends at once; the carrier then stops its thread.
    void Stop() { m_stopping = true; }
    bool Stopping() const { return m_stopping; }

    const LoaderRecord& History() const { return m_record; }
    bool Rebooted() const { return m_rebooted; }
    std::vector<std::string> MaintenanceFrames() const;

protected:
    // Writes bytes to the tool as fast as the line takes them.
    virtual void Put(std::span<const std::uint8_t> bytes) = 0;
    // The rate the tool has set on the line now; 0 when it cannot be told.
    virtual std::uint32_t LineBaud() const = 0;

    const Clock& m_clock;

private:
    void TakeByte(std::uint8_t byte, std::uint32_t baud);
    bool SleepUntil(Clock::TimePoint due) const;

    void Settle() override;
    void Log(std::string entry) override { m_record.AddLog(std::move(entry)); }
    void Error(std::string text) override { m_record.AddError(std::move(text)); }
    void Erase() override { m_record.Erase(); }
    void Record(std::uint16_t page, std::span<const std::uint8_t> data) override {
        m_record.AddBlock(page, data);
    }
    void Reboot() override { m_rebooted = true; }
    bool Wait(Clock::Duration delay) override { return SleepUntil(m_clock.Now() + delay); }
    void Send(std::span<const std::uint8_t> bytes) override;
    void Frame(std::string entry) override;

    const SerialLoaderOptions m_options;
    std::atomic<bool> m_stopping{false};
    // The most a single sleep on the clock may last, so that it ends within kSlice.
    std::chrono::steady_clock::duration m_sleepSlice = std::chrono::hours(1);

    // What the tests read.
    LoaderRecord m_record;
    std::atomic<bool> m_rebooted{false};
    mutable std::mutex m_framesLock;
    std::vector<std::string> m_frames;  // the maintenance frames, under m_framesLock

    // The carrier thread's own.
    SerialLoaderProtocol m_protocol;
    MaintenanceProtocol m_maintenance;
    Clock::TimePoint m_frameAt;  // the held maintenance frame's last byte, likewise
    std::chrono::steady_clock::time_point m_frameAtReal;
    Clock::TimePoint m_messageAt;  // the held message's last byte, on the clock and in real time
    std::chrono::steady_clock::time_point m_messageAtReal;
    Clock::TimePoint m_wireAt;  // when the last byte received has come down the wire
};

}  // namespace tarvik::sim
