#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvik {

// One HID report as the updater handles it: the report ID (always 0x00 for the loader,
// whose reports carry none) followed by 64 bytes of contents.
inline constexpr std::size_t kHidReportSize = 65;
using HidReport = std::array<std::uint8_t, kHidReportSize>;

struct HidAttributes {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t versionNumber = 0;

    bool operator==(const HidAttributes&) const = default;
};

struct HidDeviceInfo {
    std::string path;
    HidAttributes attributes;
};

struct HidReadResult {
    enum class Status {
        Report,      // `count` bytes arrived, the report ID 0x00 put in front of them
        TimedOut,    // nothing within the time-out
        DeviceGone,  // the device has been unplugged; nothing will come any more
        Failed,      // any other error; `error` holds the system's number
    };
    Status status = Status::TimedOut;
    std::size_t count = 0;
    int error = 0;
};

// One opened handle on a HID device. A handle is used by one thread at a time; two handles
// on the same device may be used by two threads at once (one reading, one writing).
class HidDevice {
public:
    virtual ~HidDevice() = default;

    // Vendor ID, product ID and version number; nothing when they cannot be read.
    virtual std::optional<HidAttributes> GetAttributes() = 0;

    // Writes one output report, report ID first; blocks until it has gone out. Returns 0,
    // or the system's error number when it failed.
    virtual int Write(const HidReport& report) = 0;

    // Waits at most `timeout` of real time for one input report.
    virtual HidReadResult Read(HidReport& report, std::chrono::milliseconds timeout) = 0;
};

// The system's HID devices. Enumeration and opening happen on one thread.
class HidTransport {
public:
    virtual ~HidTransport() = default;

    // The HID devices present now, one entry per device path, in the system's order;
    // nothing when the system cannot list them.
    virtual std::optional<std::vector<HidDeviceInfo>> Enumerate() = 0;

    // Opens `path` for reading and writing; nothing when it cannot be opened.
    virtual std::unique_ptr<HidDevice> Open(const std::string& path) = 0;
};

}  // namespace tarvik
