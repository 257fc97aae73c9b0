// The port listing on Windows, under a Wine prefix that maps no COM port of its own: the
// system lists no port and no loader, no COMn leads to a port, and the matching of COMn to
// a listed port and the reading of USB IDs from hardware IDs.
#include <gtest/gtest.h>

#include "hid/WinDeviceSet.h"
#include "ports/PortListing.h"
#include "ports/WinPortScan.h"

namespace tarvik::ports {
namespace {

TEST(WinPortListingTest, AMachineWithNoPortsListsNoneAndEveryComLeadsNowhere) {
    const PortNames names([](const std::string&) { return std::optional<std::string>(); });
    const PortListing listing = ListPorts({}, names);
    EXPECT_TRUE(listing.ttyClassFound);
    EXPECT_TRUE(listing.ports.empty());
    ASSERT_EQ(listing.comPorts.size(), 9u);
    for (int n = 1; n <= 9; ++n) {
        EXPECT_EQ(listing.comPorts[n - 1].n, n);
        EXPECT_NE(listing.comPorts[n - 1].status, ComStatus::Port) << n;
    }
    EXPECT_TRUE(listing.hidBusFound);
    EXPECT_TRUE(listing.loaders.empty());
    const std::string text = FormatPortListing(listing);
    EXPECT_TRUE(text.starts_with("Serial ports: none\n")) << text;
    EXPECT_TRUE(text.ends_with("USB loaders (HID, vendor 0xFFFF): none\n")) << text;
    EXPECT_EQ(PortTooltip(listing, 0), "USB Port: no boot-mode device present");
}

TEST(WinPortListingTest, ComNamesFindTheirPortInAnyCaseAndSpelling) {
    std::vector<SerialPortEntry> ports(2);
    ports[0].name = "COM3";
    ports[0].device = R"(\\.\COM3)";
    ports[1].name = "COM12";
    ports[1].device = R"(\\.\COM12)";
    const struct {
        int n;
        const char* configured;
        const char* device;  // nothing when no listed port is behind it
    } cases[] = {{3, R"(\\.\com3)", R"(\\.\COM3)"},
                 {5, "COM12", R"(\\.\COM12)"},
                 {6, R"(\\.\COM1)", nullptr},  // not the start of COM12
                 {7, R"(\\.\COM7)", nullptr}};
    for (const auto& c : cases) {
        const ComPortEntry com = setupapi::LocateCom(c.n, c.configured, ports);
        EXPECT_EQ(com.n, c.n);
        EXPECT_EQ(com.status == ComStatus::Port, c.device != nullptr) << c.configured;
        EXPECT_EQ(com.device, c.device ? c.device : c.configured) << c.configured;
    }
    EXPECT_EQ(ports[0].comPorts, std::vector<int>{3});
    EXPECT_EQ(ports[1].comPorts, std::vector<int>{5});
}

TEST(WinPortListingTest, HardwareIdsGiveTheirFourDigitFields) {
    const struct {
        const char* id;
        const char* key;
        std::optional<std::uint16_t> value;
    } cases[] = {
        {R"(USB\VID_0403&PID_6001&REV_0600)", "VID_", 0x0403},
        {R"(FTDIBUS\COMPORT&VID_0403&PID_6001)", "PID_", 0x6001},
        {R"(hid\vid_ffff&pid_0012&rev_0100)", "REV_", 0x0100},
        {R"(USB\VID_0403&PID_6001)", "REV_", std::nullopt},
        {R"(USB\VID_04031&PID_6001)", "VID_", std::nullopt},
        {R"(BTHENUM\{00001101-0000-1000-8000-00805f9b34fb}_VID&0001005d_PID&223b)", "VID_",
         std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(win::HardwareIdField(c.id, c.key), c.value) << c.id << " " << c.key;
    }
}

}  // namespace
}  // namespace tarvik::ports
