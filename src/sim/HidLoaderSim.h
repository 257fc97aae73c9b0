#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "clock/Clock.h"
#include "hid/HidTransport.h"

namespace tarvik::sim {

// One HID device present on the simulated bus.
struct SimHidDevice {
    std::string path;
    HidAttributes attributes;
    bool loader = false;                // plays the boot loader: checks and answers reports
    bool refusesSecondOpen = false;     // a second handle on it cannot be opened
    bool attributesUnreadable = false;  // opens, but GetAttributes() gives nothing
};

// What the simulated loader does wrong, counted in blocks in send order (0 is the first
// block sent) or in reports written (0 is the start report).
enum class HidFaultKind {
    NoAck,             // block `at` is not acknowledged
    AckAtWrongOffset,  // block `at` is answered with "U5U" at report bytes `offset` to +2
    ShortReport,       // block `at` is answered with an input report of one byte
    WriteFails,        // the write of report `at` fails with `error`
    DeviceGone,        // the device is unplugged at report `at`: that write and all after it
                       // fail with ENODEV, and reads report the device gone
};

struct HidFault {
    HidFaultKind kind = HidFaultKind::NoAck;
    int at = 0;
    int error = 5;   // EIO
    int offset = 1;  // for AckAtWrongOffset: where "U5U" starts in the report, ID at byte 0
};

struct HidLoaderOptions {
    const Clock* clock = &RealClock();
    // Empty: one boot-mode device that plays the loader, at "sim:hid-loader".
    std::vector<SimHidDevice> devices{};
    // How long each report takes to go out, as on a full-speed interrupt endpoint (1 ms).
    Clock::Duration reportTime{0};
    std::vector<HidFault> faults{};
};

// A HID bus with scripted devices, one of which can play the device's USB loader. The loader
// takes 64-byte reports on the wire, as the device does; the bus hands the updater 65-byte
// reports with the report ID 0x00 in front, as the real transport does. It checks the start
// report, every header and data report byte for byte (the fill of the data reports
// included), the page order and the checksums, keeps what was flashed, and answers each
// whole block with an acknowledgement report.
class HidLoaderSim : public HidTransport {
public:
    explicit HidLoaderSim(HidLoaderOptions options = {});
    ~HidLoaderSim() override;
    HidLoaderSim(const HidLoaderSim&) = delete;
    HidLoaderSim& operator=(const HidLoaderSim&) = delete;

    std::optional<std::vector<HidDeviceInfo>> Enumerate() override;
    std::unique_ptr<HidDevice> Open(const std::string& path) override;

    // What the loader saw, in order: "start", "block 0x0008", ..., "block 0x0000", and for
    // a report it did not expect, "unexpected <first bytes in hex>".
    std::vector<std::string> Log() const;
    // Layout, order and checksum violations. Empty for a clean download.
    std::vector<std::string> Errors() const;
    // The pages acknowledged, in order.
    std::vector<std::uint16_t> Pages() const;
    // Each acknowledged block at page × 256, zero elsewhere, up to the highest block's end.
    std::vector<std::uint8_t> Flashed() const;
    // Every Open() call's path, in order, successful or not.
    std::vector<std::string> OpenCalls() const;
    // Handles open right now (a leak shows here).
    int OpenHandles() const;

    bool WaitForLog(const std::string& entry,
                    std::chrono::milliseconds timeout = std::chrono::seconds(60)) const;

private:
    struct Impl;
    std::shared_ptr<Impl> m_impl;  // shared with the handles, which may outlive a test's bus
};

}  // namespace tarvik::sim
