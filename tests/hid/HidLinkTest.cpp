// The HID link: hidapi on a machine with no HID devices, and the tracing transport's lines.
#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <filesystem>

#include "hid/HidapiTransport.h"
#include "hid/TracingHidTransport.h"
#include "support/TempDir.h"
#include "support/TraceLines.h"

namespace tarvik {
namespace {

using Status = HidReadResult::Status;
using Lines = std::vector<std::string>;

// As far as a machine with no HID devices goes: hidapi comes up and down cleanly, twice,
// lists nothing without calling that a failure, and opens nothing.
TEST(HidapiTransportTest, WithNoDevicesListsNothingAndOpensNothing) {
    const bool noDevices = !std::filesystem::exists("/dev/hidraw0");
    for (int round = 0; round < 2; ++round) {
        HidapiTransport transport;
        const auto devices = transport.Enumerate();
        ASSERT_TRUE(devices.has_value());
        EXPECT_TRUE(devices->empty() || !noDevices);
    }
    test::TempDir dir;
    EXPECT_EQ(HidapiTransport().Open((dir.Path() / "hidraw0").string()), nullptr);
}

// " XX" `n` times.
std::string Repeat(const char* byte, std::size_t n) {
    std::string hex;
    while (n-- > 0) {
        hex += std::string(" ") + byte;
    }
    return hex;
}

// Reads fill the report with 0xA1 and answer the next scripted result; writes fail as told.
struct FakeDevice : HidDevice {
    std::optional<HidAttributes> GetAttributes() override { return HidAttributes{1, 2, 3}; }
    int Write(const HidReport& report) override {
        written.push_back(report);
        return writeError;
    }
    HidReadResult Read(HidReport& report, std::chrono::milliseconds timeout) override {
        lastTimeout = timeout;
        report.fill(0xA1);
        const auto result = reads.front();
        reads.pop_front();
        return result;
    }

    int writeError = 0;
    std::vector<HidReport> written;
    std::deque<HidReadResult> reads;
    std::chrono::milliseconds lastTimeout{};
};

// Opens the fake device at /dev/hidraw3 and fails for any other path.
class TracingHidTransportTest : public ::testing::Test, public HidTransport {
protected:
    std::optional<std::vector<HidDeviceInfo>> Enumerate() override {
        return std::vector<HidDeviceInfo>{{"/dev/hidraw3", {0xFFFF, 0x0012, 0x0100}}};
    }
    std::unique_ptr<HidDevice> Open(const std::string& path) override {
        return path == "/dev/hidraw3" ? std::move(m_device) : nullptr;
    }

    test::TempDir m_dir;
    std::optional<WireTrace> m_trace{std::in_place, (m_dir.Path() / "wire.log").string()};
    TracingHidTransport m_tracing{*this, *m_trace};
    std::unique_ptr<FakeDevice> m_device = std::make_unique<FakeDevice>();
    FakeDevice& m_fake = *m_device;
};

TEST_F(TracingHidTransportTest, TracesOneLinePerReportAndPassesEverythingThrough) {
    EXPECT_EQ(m_tracing.Open("/dev/hidraw9"), nullptr);
    EXPECT_EQ(m_tracing.Enumerate().value().at(0).path, "/dev/hidraw3");
    auto device = m_tracing.Open("/dev/hidraw3");
    ASSERT_TRUE(device);
    EXPECT_EQ(device->GetAttributes(), (HidAttributes{1, 2, 3}));

    HidReport report;
    report.fill(0x5A);
    report[0] = 0x00;
    m_trace->Transmit(std::vector<std::uint8_t>{0xA5});  // pending; the report ends its line
    m_fake.writeError = ENODEV;
    EXPECT_EQ(device->Write(report), ENODEV);
    EXPECT_EQ(m_fake.written, std::vector{report});

    const std::vector<HidReadResult> reads = {{Status::Report, kHidReportSize, 0},
                                              {Status::TimedOut, 0, 0},
                                              {Status::Report, 5, 0},
                                              {Status::DeviceGone, 0, ENODEV},
                                              {Status::Failed, 0, EIO}};
    m_fake.reads.assign(reads.begin(), reads.end());
    for (const auto& expected : reads) {
        const auto got = device->Read(report, std::chrono::milliseconds(250));
        EXPECT_EQ(std::tie(got.status, got.count, got.error),
                  std::tie(expected.status, expected.count, expected.error));
    }
    EXPECT_EQ(m_fake.lastTimeout, std::chrono::milliseconds(250));

    device.reset();
    m_trace.reset();
    EXPECT_EQ(
        test::TraceLines(m_dir.Path() / "wire.log"),
        (Lines{"open /dev/hidraw9 failed", "open /dev/hidraw3", "tx A5", "tx 00" + Repeat("5A", 64),
               "rx" + Repeat("A1", 65), "rx" + Repeat("A1", 5), "close /dev/hidraw3"}));
}

}  // namespace
}  // namespace tarvik
