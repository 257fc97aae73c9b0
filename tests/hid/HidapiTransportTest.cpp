#include "hid/HidapiTransport.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/TempDir.h"

namespace tarvik {
namespace {

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
    HidapiTransport transport;
    EXPECT_EQ(transport.Open((dir.Path() / "hidraw0").string()), nullptr);
}

}  // namespace
}  // namespace tarvik
