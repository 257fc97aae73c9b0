// The Windows HID link: SetupAPI's walk runs for real and finds no loader, a path that leads
// nowhere opens nothing, and reports go both ways over a named pipe, whose handles take the
// same overlapped reads, cancels and writes as a HID device's.
#include "hid/WinHidTransport.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <thread>

#include "hid/HidReports.h"
#include "hid/SystemHidTransport.h"
#include "hid/WinHandle.h"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using win::WinHandle;

TEST(WinHidTransportTest, ListsNoLoaderAndOpensNothingThatIsNotThere) {
    const auto transport = MakeSystemHidTransport();
    ASSERT_NE(dynamic_cast<WinHidTransport*>(transport.get()), nullptr);
    for (int round = 0; round < 2; ++round) {  // the device set is given back each time
        const auto devices = transport->Enumerate();
        ASSERT_TRUE(devices.has_value());
        for (const HidDeviceInfo& device : *devices) {
            EXPECT_NE(device.attributes.vendorId, hid::kBootLoader.vendorId) << device.path;
        }
    }
    for (const std::string path :
         {R"(\\?\hid#vid_ffff&pid_0012#1&2&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030})", "",
          "\xC3("}) {
        EXPECT_EQ(transport->Open(path), nullptr) << path;
    }
}

HidReport Numbered(std::uint8_t first) {
    HidReport report;
    std::iota(report.begin() + 1, report.end(), first);
    report[0] = 0x00;
    return report;
}

// Two pipe instances, one for each of the device's handles: m_ends[0] serves its reads,
// m_ends[1] takes its writes.
class WinHidPipeTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string name = R"(\\.\pipe\tarvik-hid-)" + std::to_string(GetCurrentProcessId());
        for (WinHandle& end : m_ends) {
            end = WinHandle(CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX,
                                             PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 2, 4096,
                                             4096, 0, nullptr));
            ASSERT_TRUE(end);
        }
        m_device = WinHidTransport().Open(name);
        ASSERT_NE(m_device, nullptr);
        // Which end the write handle reached: the one its first report arrives at.
        ASSERT_EQ(m_device->Write(Numbered(1)), 0);
        DWORD waiting = 0;
        ASSERT_TRUE(PeekNamedPipe(m_ends[1].Get(), nullptr, 0, nullptr, &waiting, nullptr));
        if (waiting == 0) {
            std::swap(m_ends[0], m_ends[1]);
        }
        EXPECT_EQ(Received(), Numbered(1));
    }

    // Exactly one whole report, or an empty one.
    HidReport Received() {
        std::array<std::uint8_t, 2 * kHidReportSize> buffer{};
        DWORD count = 0;
        HidReport report{};
        if (ReadFile(m_ends[1].Get(), buffer.data(), buffer.size(), &count, nullptr) &&
            count == kHidReportSize) {
            std::copy_n(buffer.begin(), kHidReportSize, report.begin());
        }
        return report;
    }

    void Send(const HidReport& report) {
        DWORD count = 0;
        ASSERT_TRUE(WriteFile(m_ends[0].Get(), report.data(), kHidReportSize, &count, nullptr));
    }

    WinHandle m_ends[2];
    std::unique_ptr<HidDevice> m_device;
};

TEST_F(WinHidPipeTest, ReportsGoOutWholeAndComeInWholeAroundReadsThatTimeOut) {
    HidReport report{};
    // Reads given up twice: each cancel is waited for, so the next read starts clean.
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(m_device->Read(report, 20ms).status, HidReadResult::Status::TimedOut);
    }
    Send(Numbered(7));
    auto result = m_device->Read(report, 5s);
    EXPECT_EQ(result.status, HidReadResult::Status::Report);
    EXPECT_EQ(result.count, kHidReportSize);
    EXPECT_EQ(report, Numbered(7));

    // A report that comes while the read waits ends the wait.
    std::thread late([this] {
        std::this_thread::sleep_for(50ms);
        Send(Numbered(9));
    });
    result = m_device->Read(report, 10s);
    late.join();
    EXPECT_EQ(result.status, HidReadResult::Status::Report);
    EXPECT_EQ(report, Numbered(9));

    ASSERT_EQ(m_device->Write(Numbered(3)), 0);
    EXPECT_EQ(Received(), Numbered(3));
}

TEST_F(WinHidPipeTest, AFailedReadOrWriteCarriesTheSystemsNumber) {
    m_ends[0].Reset();
    m_ends[1].Reset();
    HidReport report{};
    const auto result = m_device->Read(report, 1s);
    EXPECT_EQ(result.status, HidReadResult::Status::Failed);
    EXPECT_EQ(result.error, ERROR_BROKEN_PIPE);
    EXPECT_EQ(m_device->Write(Numbered(1)), ERROR_NO_DATA);
}

}  // namespace
}  // namespace tarvik
