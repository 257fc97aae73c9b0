// The port listing over sysfs trees built as the kernel builds them: which ttys are serial
// ports, what is behind each, where each COMn leads, and which HID device is the loader.
#include <gtest/gtest.h>

#include <map>

#include "ports/FakeSysfsTree.h"
#include "ports/PortListing.h"

namespace tarvik::ports {
namespace {

using Texts = std::vector<std::string>;
using test::FakeSysfsTree;

// COMn as the environment names them; no HOME, so no ports.conf is read.
PortNames NamesFrom(std::map<std::string, std::string> environment) {
    return PortNames([environment = std::move(environment)](const std::string& key) {
        const auto it = environment.find(key);
        return it == environment.end() ? std::nullopt : std::optional<std::string>(it->second);
    });
}

// Every `@` in `text` becomes the tree's dev folder, so the expected text reads as written.
std::string At(const FakeSysfsTree& tree, std::string text) {
    const std::string dev = tree.Dev().string();
    for (auto at = text.find('@'); at != std::string::npos; at = text.find('@', at + dev.size())) {
        text.replace(at, 1, dev);
    }
    return text;
}

Texts Names(const PortListing& listing) {
    Texts names;
    for (const SerialPortEntry& port : listing.ports) {
        names.push_back(port.name);
    }
    return names;
}

// A machine with a bit of everything.
class PortListingTest : public ::testing::Test {
protected:
    PortListingTest() {
        m_tree.PnpUart("00:05", "ttyS0");
        m_tree.Uart8250("ttyS1", "0");
        m_tree.Uart8250("ttyS2", "4");
        m_tree.Uart8250("ttyS10", "4");
        m_tree.FtdiAdapter("2", "ttyUSB0", "A1B2C3");
        m_tree.CdcAcm("3", "ttyACM0");
        m_tree.Tty("tty1", "virtual", false);
        m_tree.Tty("ptmx", "virtual", false);
        m_tree.DevLink("serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0", "../../ttyUSB0");
        m_tree.DevLink("serial/by-id/usb-gone-if00", "../../ttyUSB7");
        m_tree.Node("pts/3");

        m_tree.UsbHid("4", "FFFF", "0012", "0100", "Tarvik Loader", "hidraw2");
        m_tree.UsbHid("5", "FFFF", "0013", "0100", "Tarvik Cradle", "hidraw3");
        m_tree.UsbHid("6", "FFFF", "0012", "0200", "Tarvik Loader", "hidraw10");
        m_tree.UsbHid("7", "046D", "C52B", "1203", "USB Receiver", "hidraw0");
        m_tree.Hid("virtual/misc/uhid", "0005:FFFF:0012.0009", "0005:0000FFFF:00000012",
                   "Tarvik BT", "hidraw11", "aa:bb:cc:dd:ee:ff");
    }

    PortNames ComNames() const {
        return NamesFrom({
            // COM1, COM2 and COM4 keep their built-in /dev/ttyS(n-1).
            {"TARVIK_COM3", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"},
            {"TARVIK_COM5", (m_tree.Dev() / "ttyACM0").string()},
            {"TARVIK_COM6", "/dev/ttyUSB0"},
            {"TARVIK_COM7", "/dev/tty1"},
            {"TARVIK_COM8", "/dev/serial/by-id/usb-gone-if00"},
            {"TARVIK_COM9", (m_tree.Dev() / "pts/3").string()},
        });
    }

    PortListing List() const { return ListPorts(m_tree.Roots(), ComNames()); }

    FakeSysfsTree m_tree;
};

TEST_F(PortListingTest, SerialPortsAreTtysWithADeviceInNaturalOrderWithDriverAndUsbIdentity) {
    const PortListing listing = List();
    ASSERT_TRUE(listing.ttyClassFound);
    // No tty1 and no ptmx: no device behind them. No ttyS1: no UART behind it.
    EXPECT_EQ(Names(listing), (Texts{"ttyACM0", "ttyS0", "ttyS2", "ttyS10", "ttyUSB0"}));
    EXPECT_EQ(listing.emptyUarts, Texts{"ttyS1"});

    Texts drivers;
    for (const SerialPortEntry& port : listing.ports) {
        drivers.push_back(port.driver);
        EXPECT_EQ(port.device, m_tree.Dev() / port.name);
        EXPECT_EQ(port.usb.has_value(),
                  port.name.starts_with("ttyACM") || port.name.starts_with("ttyUSB"))
            << port.name;
    }
    // ttyS0 sits below the serial core's own port and controller devices: the driver named
    // is the UART's, above them.
    EXPECT_EQ(drivers, (Texts{"cdc_acm", "serial", "serial8250", "serial8250", "ftdi_sio"}));

    const UsbIdentity& ftdi = *listing.ports[4].usb;
    EXPECT_EQ(ftdi.vendorId, 0x0403);
    EXPECT_EQ(ftdi.productId, 0x6001);
    EXPECT_EQ(ftdi.product, "FT232R USB UART");
    EXPECT_EQ(ftdi.manufacturer, "FTDI");
    EXPECT_EQ(ftdi.serial, "A1B2C3");
    const UsbIdentity& acm = *listing.ports[0].usb;
    EXPECT_EQ(acm.vendorId, 0x2341);
    EXPECT_EQ(acm.productId, 0x0043);
    EXPECT_EQ(acm.product, "Uno");
    EXPECT_EQ(acm.serial, "");
}

TEST_F(PortListingTest, EachComLeadsToItsPortThroughLinksUnderDevOrSaysWhyNot) {
    const PortListing listing = List();
    ASSERT_EQ(listing.comPorts.size(), 9u);
    const std::filesystem::path dev = m_tree.Dev();
    const std::vector<std::tuple<int, std::filesystem::path, bool, ComStatus>> expected = {
        {1, dev / "ttyS0", false, ComStatus::Port},
        {2, dev / "ttyS1", false, ComStatus::NoUart},
        {3, dev / "ttyUSB0", true, ComStatus::Port},
        {4, dev / "ttyS3", false, ComStatus::Missing},
        {5, dev / "ttyACM0", false, ComStatus::Port},
        {6, dev / "ttyUSB0", false, ComStatus::Port},
        {7, dev / "tty1", false, ComStatus::NotSerial},
        {8, dev / "ttyUSB7", true, ComStatus::Missing},
        {9, dev / "pts/3", false, ComStatus::NotSerial},
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto& [n, device, throughLink, status] = expected[i];
        const ComPortEntry& com = listing.comPorts[i];
        SCOPED_TRACE(n);
        EXPECT_EQ(com.n, n);
        EXPECT_EQ(com.device, device);
        EXPECT_EQ(com.throughLink, throughLink);
        EXPECT_EQ(com.status, status);
    }
    EXPECT_EQ(listing.comPorts[0].configured, "/dev/ttyS0");
    EXPECT_EQ(listing.comPorts[2].configured,
              "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0");

    std::vector<std::vector<int>> coms;
    for (const SerialPortEntry& port : listing.ports) {
        coms.push_back(port.comPorts);
    }
    EXPECT_EQ(coms, (std::vector<std::vector<int>>{{5}, {1}, {}, {}, {3, 6}}));
}

TEST_F(PortListingTest, HidDevicesOfTheLoadersVendorSayWhetherTheyAreTheBootModeDevice) {
    const PortListing listing = List();
    ASSERT_TRUE(listing.hidBusFound);
    // Sorted by node, hidraw2 before hidraw10; the receiver of another vendor is not listed.
    ASSERT_EQ(listing.loaders.size(), 4u);
    const std::filesystem::path dev = m_tree.Dev();
    EXPECT_EQ(listing.loaders[0].device, dev / "hidraw2");
    EXPECT_EQ(listing.loaders[1].device, dev / "hidraw3");
    EXPECT_EQ(listing.loaders[2].device, dev / "hidraw10");
    EXPECT_EQ(listing.loaders[3].device, dev / "hidraw11");

    const HidLoaderEntry& boot = listing.loaders[0];
    EXPECT_TRUE(boot.IsBootLoader());
    EXPECT_EQ(boot.name, "0003:FFFF:0012.0004");
    EXPECT_EQ(boot.bus, 0x0003);
    EXPECT_EQ(boot.productId, 0x0012);
    EXPECT_EQ(boot.version, 0x0100);
    EXPECT_EQ(boot.hidName, "Tarvik Loader");

    const auto onlyDifference = [](const HidLoaderEntry& entry) {
        EXPECT_EQ(entry.differences.size(), 1u);
        return entry.differences.empty() ? IdentityDifference{} : entry.differences[0];
    };
    const IdentityDifference product = onlyDifference(listing.loaders[1]);
    EXPECT_EQ(product.what, "product");
    EXPECT_EQ(product.actual, 0x0013);
    EXPECT_EQ(product.expected, 0x0012);
    const IdentityDifference version = onlyDifference(listing.loaders[2]);
    EXPECT_EQ(version.what, "version");
    EXPECT_EQ(version.actual, 0x0200);
    EXPECT_EQ(version.expected, 0x0100);
    // Not on USB: no bcdDevice to read, so the version is not known to match.
    const HidLoaderEntry& bluetooth = listing.loaders[3];
    EXPECT_EQ(bluetooth.bus, 0x0005);
    EXPECT_EQ(bluetooth.uniq, "aa:bb:cc:dd:ee:ff");
    const IdentityDifference unknown = onlyDifference(bluetooth);
    EXPECT_EQ(unknown.what, "version");
    EXPECT_EQ(unknown.actual, std::nullopt);
}

TEST_F(PortListingTest, TheTextListsPortsComsAndLoadersOneALine) {
    EXPECT_EQ(FormatPortListing(List()), At(m_tree, R"(Serial ports:
  @/ttyACM0  cdc_acm     2341:0043 Arduino (www.arduino.cc) Uno  COM5
  @/ttyS0    serial      COM1
  @/ttyS2    serial8250
  @/ttyS10   serial8250
  @/ttyUSB0  ftdi_sio    0403:6001 FTDI FT232R USB UART, serial A1B2C3  COM3 COM6
  (not listed, no UART behind them: ttyS1)
COM ports with no device behind them:
  COM2 -> /dev/ttyS1 (no UART behind it)
  COM4 -> /dev/ttyS3 (does not exist)
  COM7 -> /dev/tty1 (not a serial port the system lists)
  COM8 -> /dev/serial/by-id/usb-gone-if00 -> @/ttyUSB7 (does not exist)
  COM9 -> @/pts/3 (not a serial port the system lists)
USB loaders (HID, vendor 0xFFFF):
  @/hidraw2   "Tarvik Loader"  boot-mode device
  @/hidraw3   "Tarvik Cradle"  not the boot-mode device: product 0x0013 (the loader is 0x0012)
  @/hidraw10  "Tarvik Loader"  not the boot-mode device: version 0x0200 (the loader is 0x0100)
  @/hidraw11  "Tarvik BT"  bus 0x0005  serial aa:bb:cc:dd:ee:ff  not the boot-mode device: version unknown (the loader is 0x0100)
)"));
}

TEST_F(PortListingTest, TooltipsNameTheDeviceAndWhatIsBehindIt) {
    const PortListing listing = List();
    Texts tips;
    for (int n = 0; n <= 9; ++n) {
        tips.push_back(PortTooltip(listing, n));
    }
    EXPECT_EQ(tips,
              (Texts{
                  "USB Port: boot-mode device at " + At(m_tree, "@/hidraw2"),
                  "COM1: /dev/ttyS0 — serial",
                  "COM2: /dev/ttyS1 — no UART behind it",
                  At(m_tree,
                     "COM3: /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0 → "
                     "@/ttyUSB0 — ftdi_sio, 0403:6001 FTDI FT232R USB UART, serial A1B2C3"),
                  "COM4: /dev/ttyS3 — does not exist",
                  At(m_tree, "COM5: @/ttyACM0 — cdc_acm, 2341:0043 Arduino (www.arduino.cc) Uno"),
                  "COM6: /dev/ttyUSB0 — ftdi_sio, 0403:6001 FTDI FT232R USB UART, serial A1B2C3",
                  "COM7: /dev/tty1 — not a serial port the system lists",
                  At(m_tree, "COM8: /dev/serial/by-id/usb-gone-if00 → @/ttyUSB7 — does not exist"),
                  At(m_tree, "COM9: @/pts/3 — not a serial port the system lists"),
              }));
    EXPECT_EQ(PortTooltip(listing, 10), "");
    EXPECT_EQ(PortTooltip(listing, -1), "");
}

// Machines with less: no loader in boot mode, no HID bus, no tty class at all.
TEST(PortListingOfSparseMachines, SayWhatIsMissingInsteadOfFailing) {
    FakeSysfsTree cradleOnly;
    cradleOnly.UsbHid("5", "FFFF", "0013", "0100", "Tarvik Cradle", "hidraw3");
    const PortListing cradle = ListPorts(cradleOnly.Roots(), NamesFrom({}));
    EXPECT_EQ(PortTooltip(cradle, 0),
              At(cradleOnly,
                 "USB Port: no boot-mode device present; @/hidraw3 is not the "
                 "boot-mode device: product 0x0013 (the loader is 0x0012)"));

    FakeSysfsTree bare;
    const PortListing nothing = ListPorts(bare.Roots(), NamesFrom({}));
    EXPECT_FALSE(nothing.ttyClassFound);
    EXPECT_FALSE(nothing.hidBusFound);
    EXPECT_EQ(PortTooltip(nothing, 0), "USB Port: no boot-mode device present");
    EXPECT_EQ(PortTooltip(nothing, 9), "COM9: /dev/ttyS8 — does not exist");
    const std::string text = FormatPortListing(nothing);
    EXPECT_EQ(text.substr(0, text.find('\n') + 1),
              "Serial ports: none (this system has no class/tty in sysfs)\n");
    EXPECT_NE(text.find("COM ports with no device behind them:\n  COM1 -> /dev/ttyS0 (does not "
                        "exist)\n"),
              std::string::npos);
    EXPECT_TRUE(
        text.ends_with("  COM9 -> /dev/ttyS8 (does not exist)\n"
                       "USB loaders (HID, vendor 0xFFFF): none (this system has no "
                       "bus/hid in sysfs)\n"))
        << text;

    // A tty class with consoles alone, a HID bus with other vendors alone.
    FakeSysfsTree consoles;
    consoles.Tty("tty1", "virtual", false);
    consoles.UsbHid("7", "046D", "C52B", "1203", "USB Receiver", "hidraw0");
    const PortListing none = ListPorts(consoles.Roots(), NamesFrom({{"TARVIK_COM1", "/dev/tty1"}}));
    EXPECT_TRUE(none.ttyClassFound);
    EXPECT_TRUE(none.hidBusFound);
    EXPECT_EQ(none.comPorts[0].status, ComStatus::NotSerial);
    const std::string noneText = FormatPortListing(none);
    EXPECT_TRUE(noneText.starts_with("Serial ports: none\n")) << noneText;
    EXPECT_TRUE(noneText.ends_with("\nUSB loaders (HID, vendor 0xFFFF): none\n")) << noneText;
}

TEST(PortListingOfSparseMachines, AttributesAreTrimmedCappedAndIgnoredWhenUnreadable) {
    FakeSysfsTree tree;
    tree.FtdiAdapter("2", "ttyUSB0", std::string(10'000, 'x'));
    // An adapter whose vendor ID is garbage has no USB identity; its tty is still a port.
    tree.FtdiAdapter("3", "ttyUSB1", "B");
    tree.Attribute("devices/pci0000:00/0000:00:14.0/usb1/1-3/idVendor", "not hex");
    // A tty whose device link leads nowhere: listed, with nothing known about it.
    tree.Link("devices/platform/gone/tty/ttyS4/device", "devices/platform/nowhere");
    tree.Link("class/tty/ttyS4", "devices/platform/gone/tty/ttyS4");

    const PortListing listing = ListPorts(tree.Roots(), NamesFrom({}));
    ASSERT_EQ(Names(listing), (Texts{"ttyS4", "ttyUSB0", "ttyUSB1"}));
    EXPECT_EQ(listing.ports[0].driver, "");
    EXPECT_FALSE(listing.ports[0].usb);
    ASSERT_TRUE(listing.ports[1].usb);
    // The line break the kernel ends each attribute with is not part of it.
    EXPECT_EQ(listing.ports[1].usb->product, "FT232R USB UART");
    EXPECT_EQ(listing.ports[1].usb->serial, std::string(4096, 'x'));
    EXPECT_EQ(listing.ports[2].driver, "ftdi_sio");
    EXPECT_FALSE(listing.ports[2].usb);
    EXPECT_EQ(listing.comPorts[4].status, ComStatus::Port);  // COM5 is /dev/ttyS4
    const std::string text = FormatPortListing(listing);
    EXPECT_NE(text.find(At(tree, "  @/ttyS4    -         COM5\n")), std::string::npos) << text;
}

// This machine's own sysfs: whatever it holds, the listing returns, and every device it
// names lies under the dev root it was given, which it only ever uses to build names.
TEST(PortListingOfThisMachine, ReturnsAndNamesOnlyPathsUnderTheDevRootGiven) {
    const PortNames names = NamesFrom({});
    const PortListing real = ListPorts({}, names);
    ASSERT_EQ(real.comPorts.size(), 9u);
    for (const SerialPortEntry& port : real.ports) {
        EXPECT_TRUE(port.device.string().starts_with("/dev/")) << port.device;
    }
    for (const HidLoaderEntry& loader : real.loaders) {
        EXPECT_TRUE(!loader.device || loader.device->string().starts_with("/dev/"));
    }
    EXPECT_EQ(real.comPorts[0].configured, "/dev/ttyS0");
    EXPECT_FALSE(FormatPortListing(real).empty());

    // The same sysfs with a dev root that does not exist lists the same ports.
    const PortListing elsewhere = ListPorts({"/sys", "/nonexistent-dev"}, names);
    EXPECT_EQ(Names(elsewhere), Names(real));
    for (const SerialPortEntry& port : elsewhere.ports) {
        EXPECT_EQ(port.device, "/nonexistent-dev" / std::filesystem::path(port.name));
    }
    std::printf("%s", FormatPortListing(real).c_str());
}

}  // namespace
}  // namespace tarvik::ports
