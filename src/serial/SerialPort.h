#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <system_error>

namespace tarvik {

// A write that gets no byte onto the line for this long fails: a line held by flow control
// or an adapter that stalls must not freeze whoever writes.
inline constexpr std::chrono::milliseconds kWriteStallLimit{2000};

// Once a reply has started, a pause this long means the device has said all it will.
inline constexpr std::chrono::milliseconds kReadGap{30};

// The longest a read of n bytes waits: 10 ms a byte, more than a byte takes at any rate we
// use, and 200 ms for the device to start answering.
inline std::chrono::milliseconds ReadTimeOut(std::size_t n) {
    constexpr std::size_t kLargest = 1'000'000'000;  // keeps the sum far from overflowing
    return std::chrono::milliseconds(200) +
           std::chrono::milliseconds(10) *
               static_cast<std::chrono::milliseconds::rep>(n < kLargest ? n : kLargest);
}

// One open serial port: raw 8N1 at a fixed rate, NUL bytes passed through. Every operation
// may be called from any thread; Close() wakes a thread blocked in Read or Write on the same
// port, which then fails. The descriptor is never used once Close() has returned.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Reads up to buf.size() bytes. Returns when all have arrived; once at least one byte
    // has arrived, also 30 ms after the last byte; in any case after 10 × n + 200 ms with
    // whatever arrived. Nothing (nullopt) when the port failed or was closed.
    virtual std::optional<std::size_t> Read(std::span<std::uint8_t> buf) = 0;

    // Blocks until the port has taken every byte. False when the port failed or was closed,
    // or took no byte for the write stall limit.
    virtual bool Write(std::span<const std::uint8_t> data) = 0;

    // Discards both queues.
    virtual void Purge() = 0;

    // Releases the port, waking any thread blocked on it. What is still queued for output
    // goes out first, for as long as the line keeps taking bytes. Safe to call more than once.
    virtual void Close() = 0;

    // Close, dropping whatever is still queued for output: the update was cancelled and
    // nothing more may reach the device. A port that queues nothing of its own just closes.
    virtual void Abort() { Close(); }

    virtual bool IsOpen() const = 0;
};

// Why an open failed, as the system reported it.
struct SerialOpenError {
    int error = 0;  // errno-style code
    std::string reason;
    // The system's own words where its error has no errno-style meaning (Windows' texts).
    std::string systemText;
};

struct SerialOpenResult {
    std::shared_ptr<SerialPort> port;  // empty when the open failed
    SerialOpenError error;
};

// A failed open: `error` in the generic words for it, and `why` after them where given.
inline SerialOpenResult OpenFailure(int error, const std::string& why = {}) {
    std::string reason = std::generic_category().message(error);
    if (!why.empty()) {
        reason += " (" + why + ")";
    }
    return {nullptr, {error, reason, {}}};
}

// Opens serial ports by device path. The real one talks to the system; tests wrap it.
class SerialPortOpener {
public:
    virtual ~SerialPortOpener() = default;

    // Opens `device` exclusively (a second open of a held port fails, also within this
    // process) at `baud` bits per second.
    virtual SerialOpenResult Open(const std::filesystem::path& device, std::uint32_t baud) = 0;
};

// The rate of a baud index: 0 = 115200, 1 = 57600, 2 = 38400, 3 = 19200, 4 = 9600,
// 5 = 4800, 6 = 2400, anything else 9600.
std::uint32_t BaudRateOfIndex(int index);

}  // namespace tarvik
