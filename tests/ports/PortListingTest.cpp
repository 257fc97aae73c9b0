// The port listing over sysfs trees built as the kernel builds them: which ttys are serial
// ports, what is behind each, where each COMn leads, and which HID device is the loader.
#include <gtest/gtest.h>

#include <map>
#include <regex>

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
std::string At(const FakeSysfsTree& tree, const std::string& text) {
    return std::regex_replace(text, std::regex("@"), tree.Dev().string());
}

// The listing's lines for COM<from> to COM9 but COM<except>, each at a /dev/ttyS(n-1) not there.
std::string MissingComs(int from, int except = 0) {
    std::string text;
    for (int n = from; n <= 9; ++n) {
        if (n != except) {
            text += "  COM" + std::to_string(n) + " -> /dev/ttyS" + std::to_string(n - 1) +
                    " (does not exist)\n";
        }
    }
    return text;
}

// A machine with a bit of everything: USB adapters, built-in ports with and without a UART,
// consoles, every way a COMn can lead somewhere or nowhere, and HID devices that are the
// loader, nearly the loader, or another vendor's.
TEST(PortListingTest, TheTextAndEveryTooltipSayWhatIsBehindEachPort) {
    FakeSysfsTree tree;
    tree.PnpUart("00:05", "ttyS0");
    tree.Uart8250("ttyS1", "0");
    tree.Uart8250("ttyS2", "4");
    tree.Uart8250("ttyS10", "4");
    tree.FtdiAdapter("2", "ttyUSB0", "A1B2C3");
    tree.CdcAcm("3", "ttyACM0");
    tree.Tty("tty1", "virtual", false);
    tree.Tty("ptmx", "virtual", false);
    tree.DevLink("serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0", "../../ttyUSB0");
    tree.DevLink("serial/by-id/usb-gone-if00", "../../ttyUSB7");
    tree.Node("pts/3");
    tree.UsbHid("4", "FFFF", "0012", "0100", "Tarvik Loader", "hidraw2");
    tree.UsbHid("5", "FFFF", "0013", "0100", "Tarvik Cradle", "hidraw3");
    tree.UsbHid("6", "FFFF", "0012", "0200", "Tarvik Loader", "hidraw10");
    tree.UsbHid("7", "046D", "C52B", "1203", "USB Receiver", "hidraw0");
    tree.Hid("virtual/misc/uhid", "0005:FFFF:0012.0009", "0005:0000FFFF:00000012", "Tarvik BT",
             "hidraw11", "aa:bb:cc:dd:ee:ff");
    // COM1, COM2 and COM4 keep their built-in /dev/ttyS(n-1).
    const PortListing listing = ListPorts(
        tree.Roots(),
        NamesFrom({{"TARVIK_COM3", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"},
                   {"TARVIK_COM5", (tree.Dev() / "ttyACM0").string()},
                   {"TARVIK_COM6", "/dev/ttyUSB0"},
                   {"TARVIK_COM7", "/dev/tty1"},
                   {"TARVIK_COM8", "/dev/serial/by-id/usb-gone-if00"},
                   {"TARVIK_COM9", (tree.Dev() / "pts/3").string()}}));

    // No tty1 or ptmx: no device behind them. ttyS0's driver is the UART's, above the serial
    // core's port and controller devices. HID devices by node, hidraw2 before hidraw10, none of
    // another vendor; the one not on USB has no bcdDevice, so its version is not known.
    EXPECT_EQ(FormatPortListing(listing), At(tree, R"(Serial ports:
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
    EXPECT_EQ(listing.loaders.at(0).name, "0003:FFFF:0012.0004");

    Texts tips;
    for (int n = -1; n <= 10; ++n) {
        tips.push_back(PortTooltip(listing, n));
    }
    EXPECT_EQ(tips,
              (Texts{
                  "",
                  "USB Port: boot-mode device at " + At(tree, "@/hidraw2"),
                  "COM1: /dev/ttyS0 — serial",
                  "COM2: /dev/ttyS1 — no UART behind it",
                  At(tree,
                     "COM3: /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0 → "
                     "@/ttyUSB0 — ftdi_sio, 0403:6001 FTDI FT232R USB UART, serial A1B2C3"),
                  "COM4: /dev/ttyS3 — does not exist",
                  At(tree, "COM5: @/ttyACM0 — cdc_acm, 2341:0043 Arduino (www.arduino.cc) Uno"),
                  "COM6: /dev/ttyUSB0 — ftdi_sio, 0403:6001 FTDI FT232R USB UART, serial A1B2C3",
                  "COM7: /dev/tty1 — not a serial port the system lists",
                  At(tree, "COM8: /dev/serial/by-id/usb-gone-if00 → @/ttyUSB7 — does not exist"),
                  At(tree, "COM9: @/pts/3 — not a serial port the system lists"),
                  "",
              }));
}

// Machines with less: no tty class or HID bus at all; consoles alone, no loader in boot mode.
TEST(PortListingOfSparseMachines, SayWhatIsMissingInsteadOfFailing) {
    FakeSysfsTree bare;
    const PortListing nothing = ListPorts(bare.Roots(), NamesFrom({}));
    EXPECT_EQ(FormatPortListing(nothing),
              "Serial ports: none (this system has no class/tty in sysfs)\n"
              "COM ports with no device behind them:\n" +
                  MissingComs(1) +
                  "USB loaders (HID, vendor 0xFFFF): none (this system has no bus/hid in sysfs)\n");
    EXPECT_EQ(PortTooltip(nothing, 0), "USB Port: no boot-mode device present");

    FakeSysfsTree consoles;
    consoles.Tty("tty1", "virtual", false);
    consoles.UsbHid("5", "FFFF", "0013", "0100", "Tarvik Cradle", "hidraw3");
    const PortListing few = ListPorts(consoles.Roots(), NamesFrom({{"TARVIK_COM1", "/dev/tty1"}}));
    EXPECT_EQ(FormatPortListing(few),
              At(consoles,
                 "Serial ports: none\nCOM ports with no device behind them:\n"
                 "  COM1 -> /dev/tty1 (not a serial port the system lists)\n" +
                     MissingComs(2) +
                     "USB loaders (HID, vendor 0xFFFF):\n  @/hidraw3  \"Tarvik Cradle\"  not the "
                     "boot-mode device: product 0x0013 (the loader is 0x0012)\n"));
    EXPECT_EQ(PortTooltip(few, 0), At(consoles,
                                      "USB Port: no boot-mode device present; @/hidraw3 is not the "
                                      "boot-mode device: product 0x0013 (the loader is 0x0012)"));
}

// The line break the kernel ends each attribute with is not part of it; an attribute is
// read up to 4096 bytes; a vendor ID that is not hex gives no USB identity, yet the tty is
// still a port; a tty whose device link leads nowhere (COM5) is listed with nothing known;
// another vendor's HID device alone is no loader.
TEST(PortListingOfSparseMachines, AttributesAreTrimmedCappedAndIgnoredWhenUnreadable) {
    FakeSysfsTree tree;
    tree.FtdiAdapter("2", "ttyUSB0", std::string(10'000, 'x'));
    tree.FtdiAdapter("3", "ttyUSB1", "B");
    tree.Attribute("devices/pci0000:00/0000:00:14.0/usb1/1-3/idVendor", "not hex");
    tree.Link("devices/platform/gone/tty/ttyS4/device", "devices/platform/nowhere");
    tree.Link("class/tty/ttyS4", "devices/platform/gone/tty/ttyS4");
    tree.UsbHid("7", "046D", "C52B", "1203", "USB Receiver", "hidraw0");

    EXPECT_EQ(FormatPortListing(ListPorts(tree.Roots(), NamesFrom({}))),
              At(tree,
                 "Serial ports:\n  @/ttyS4    -         COM5\n"
                 "  @/ttyUSB0  ftdi_sio  0403:6001 FTDI FT232R USB UART, serial ") +
                  std::string(4096, 'x') +
                  At(tree, "\n  @/ttyUSB1  ftdi_sio\nCOM ports with no device behind them:\n") +
                  MissingComs(1, 5) + "USB loaders (HID, vendor 0xFFFF): none\n");
}

// This machine's own sysfs: whatever it holds, the listing returns, with every device under
// /dev. (The trees above show that a dev root is only ever used to build names.)
TEST(PortListingOfThisMachine, ReturnsAndNamesDevicesUnderDev) {
    const PortListing real = ListPorts({}, NamesFrom({}));
    EXPECT_EQ(real.comPorts.at(0).configured, "/dev/ttyS0");
    EXPECT_FALSE(FormatPortListing(real).empty());
    for (const SerialPortEntry& port : real.ports) {
        EXPECT_EQ(port.device, "/dev" / std::filesystem::path(port.name));
    }
    for (const HidLoaderEntry& loader : real.loaders) {
        EXPECT_TRUE(!loader.device || loader.device->string().starts_with("/dev/"));
    }
}

}  // namespace
}  // namespace tarvik::ports
