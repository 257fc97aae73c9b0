#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "serial/PortNames.h"

// The machine's serial ports and USB loaders as the system describes them (sysfs on Linux,
// the device setup's records on Windows), and the COMn that lead to them. Nothing here opens
// a device: an operator asks for the list to find out which port to use, and a port another
// program holds must not be disturbed by that.
namespace tarvik::ports {

// Where the listing looks on Linux. Tests point both at a tree of their own.
struct ListingRoots {
    std::filesystem::path sys = "/sys";
    std::filesystem::path dev = "/dev";
};

// The USB device behind a serial adapter, from its idVendor, idProduct, product,
// manufacturer and serial files; a text the device does not give is empty.
struct UsbIdentity {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string product;
    std::string manufacturer;
    std::string serial;
};

// A serial port the system lists: a tty with a device behind it, or a COM port.
struct SerialPortEntry {
    std::string name;                // "ttyUSB0"; "COM3"
    std::filesystem::path device;    // <dev>/ttyUSB0; \\.\COM3
    std::string driver;              // "ftdi_sio"; "FTSER2K"; empty when the system names none
    std::string description;         // Windows' name for it: "USB Serial Port (COM3)"
    std::optional<UsbIdentity> usb;  // USB adapters only
    std::vector<int> comPorts;       // the COMn that lead to it, ascending
};

// Where one of COM1 to COM9 leads.
enum class ComStatus {
    Port,       // a listed serial port
    NoUart,     // a built-in port with no UART behind it
    NotSerial,  // something that exists but is no serial port the system lists
    Missing,    // nothing there
};

struct ComPortEntry {
    int n = 0;
    std::filesystem::path configured;  // what PortNames resolves COMn to
    std::filesystem::path device;      // the same after its symbolic links, read as text
    bool throughLink = false;          // `device` was reached through a symbolic link
    ComStatus status = ComStatus::Missing;
};

// One identity value of a HID device that is not the boot-mode device's.
struct IdentityDifference {
    std::string what;                     // "vendor", "product" or "version"
    std::optional<std::uint16_t> actual;  // nothing when the system does not tell
    std::uint16_t expected = 0;
};

// A HID device of the loader's vendor.
struct HidLoaderEntry {
    std::string name;                             // "0003:FFFF:0012.0001"; instance ID
    std::optional<std::filesystem::path> device;  // <dev>/hidrawN; the interface path
    std::uint16_t bus = 0;                        // 0x0003 is USB
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::optional<std::uint16_t> version;         // the USB device's bcdDevice
    std::string hidName;                          // HID_NAME; the device's description
    std::string uniq;                             // HID_UNIQ, often the serial number
    std::vector<IdentityDifference> differences;  // in the order vendor, product, version

    bool IsBootLoader() const { return differences.empty(); }
};

struct PortListing {
    bool ttyClassFound = false;           // <sys>/class/tty was there to read; ports listed
    std::vector<SerialPortEntry> ports;   // names in natural order: ttyS2 before ttyS10
    std::vector<std::string> emptyUarts;  // built-in ports with no UART behind them
    std::vector<ComPortEntry> comPorts;   // COM1 to COM9, in order
    bool hidBusFound = false;             // <sys>/bus/hid was there to read; HID listed
    std::vector<HidLoaderEntry> loaders;  // Linux: by device path; Windows: the system's order
};

// Lists from sysfs or SetupAPI only (Windows ignores the roots); opens no device.
PortListing ListPorts(const ListingRoots& roots, const PortNames& names);
std::string FormatPortListing(const PortListing& listing);
// One line for the window's tooltip of port index n (0 = "USB Port", 1..9 = COMn).
std::string PortTooltip(const PortListing& listing, int n);

}  // namespace tarvik::ports
