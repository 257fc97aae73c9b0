// The listing as an operator reads it: `tarvik-flash --list` and the window's tooltips.
#include <algorithm>
#include <cstdio>

#include "hid/HidReports.h"
#include "ports/PortListing.h"

namespace tarvik::ports {
namespace {

constexpr std::uint16_t kBusUsb = 0x0003;

// Why a list is missing altogether: where each system keeps it.
#ifdef _WIN32
constexpr const char* kNoSerialList = "the system's device setup would not list them";
constexpr const char* kNoHidList = "the system's device setup would not list them";
#else
constexpr const char* kNoSerialList = "this system has no class/tty in sysfs";
constexpr const char* kNoHidList = "this system has no bus/hid in sysfs";
#endif

std::string Hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(value));
    return text;
}

std::string Hex0x(std::optional<std::uint16_t> value) {
    if (!value) {
        return "unknown";
    }
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(*value));
    return text;
}

// "0403:6001 FTDI FT232R USB UART, serial A1B2C3", in the order lsusb has taught everyone.
std::string DescribeUsb(const UsbIdentity& usb) {
    std::string text = Hex4(usb.vendorId) + ":" + Hex4(usb.productId);
    for (const std::string* name : {&usb.manufacturer, &usb.product}) {
        if (!name->empty()) {
            text += " " + *name;
        }
    }
    if (!usb.serial.empty()) {
        text += ", serial " + usb.serial;
    }
    return text;
}

std::string DescribeStatus(ComStatus status) {
    switch (status) {
        case ComStatus::Port:
            return "a serial port";
        case ComStatus::NoUart:
            return "no UART behind it";
        case ComStatus::NotSerial:
            return "not a serial port the system lists";
        case ComStatus::Missing:
            return "does not exist";
    }
    return {};
}

// "/dev/serial/by-id/usb-FTDI-... -> /dev/ttyUSB0": the path COMn names, and where its links
// led when it is one.
std::string ComPath(const ComPortEntry& com, const char* arrow) {
    std::string text = com.configured.string();
    if (com.throughLink) {
        text += arrow + com.device.string();
    }
    return text;
}

// "not the boot-mode device: product 0x0013 (the loader is 0x0012)"
std::string DescribeIdentity(const HidLoaderEntry& loader) {
    if (loader.IsBootLoader()) {
        return "boot-mode device";
    }
    std::string text = "not the boot-mode device:";
    const char* separator = " ";
    for (const IdentityDifference& difference : loader.differences) {
        text += separator + difference.what + " " + Hex0x(difference.actual) + " (the loader is " +
                Hex0x(difference.expected) + ")";
        separator = ", ";
    }
    return text;
}

std::string LoaderPath(const HidLoaderEntry& loader) {
    return loader.device ? loader.device->string() : loader.name + " (no hidraw node)";
}

std::string Padded(std::string text, std::size_t width) {
    if (text.size() < width) {
        text.append(width - text.size(), ' ');
    }
    return text;
}

// The columns that have something to say, joined by two blanks, none left at the end.
std::string Line(const std::vector<std::string>& columns) {
    std::string line;
    for (const std::string& column : columns) {
        if (!column.empty()) {
            line += "  " + column;
        }
    }
    while (!line.empty() && line.back() == ' ') {
        line.pop_back();
    }
    return line + "\n";
}

std::string ComList(const std::vector<int>& comPorts) {
    std::string text;
    for (const int n : comPorts) {
        text += (text.empty() ? "COM" : " COM") + std::to_string(n);
    }
    return text;
}

}  // namespace

std::string FormatPortListing(const PortListing& listing) {
    std::string text;
    if (!listing.ttyClassFound) {
        text += "Serial ports: none (" + std::string(kNoSerialList) + ")\n";
    } else if (listing.ports.empty()) {
        text += "Serial ports: none\n";
    } else {
        text += "Serial ports:\n";
        std::size_t pathWidth = 0;
        std::size_t driverWidth = 0;
        for (const SerialPortEntry& port : listing.ports) {
            pathWidth = std::max(pathWidth, port.device.string().size());
            driverWidth = std::max(driverWidth, std::max<std::size_t>(port.driver.size(), 1));
        }
        for (const SerialPortEntry& port : listing.ports) {
            text +=
                Line({Padded(port.device.string(), pathWidth),
                      Padded(port.driver.empty() ? "-" : port.driver, driverWidth),
                      port.description.empty() ? std::string() : "\"" + port.description + "\"",
                      port.usb ? DescribeUsb(*port.usb) : std::string(), ComList(port.comPorts)});
        }
    }
    if (!listing.emptyUarts.empty()) {
        std::string names;
        for (const std::string& name : listing.emptyUarts) {
            names += " " + name;
        }
        text += "  (not listed, no UART behind them:" + names + ")\n";
    }

    std::string unresolved;
    for (const ComPortEntry& com : listing.comPorts) {
        if (com.status != ComStatus::Port) {
            unresolved += "  COM" + std::to_string(com.n) + " -> " + ComPath(com, " -> ") + " (" +
                          DescribeStatus(com.status) + ")\n";
        }
    }
    text += unresolved.empty() ? "COM ports with no device behind them: none\n"
                               : "COM ports with no device behind them:\n" + unresolved;

    char heading[64];
    std::snprintf(heading, sizeof heading, "USB loaders (HID, vendor 0x%04X):",
                  static_cast<unsigned>(hid::kBootLoader.vendorId));
    if (!listing.hidBusFound) {
        text += heading + std::string(" none (") + kNoHidList + ")\n";
    } else if (listing.loaders.empty()) {
        text += heading + std::string(" none\n");
    } else {
        text += heading + std::string("\n");
        std::size_t pathWidth = 0;
        for (const HidLoaderEntry& loader : listing.loaders) {
            pathWidth = std::max(pathWidth, LoaderPath(loader).size());
        }
        for (const HidLoaderEntry& loader : listing.loaders) {
            char bus[16];
            std::snprintf(bus, sizeof bus, "bus 0x%04X", static_cast<unsigned>(loader.bus));
            text += Line({Padded(LoaderPath(loader), pathWidth), "\"" + loader.hidName + "\"",
                          loader.bus == kBusUsb ? std::string() : std::string(bus),
                          loader.uniq.empty() ? std::string() : "serial " + loader.uniq,
                          DescribeIdentity(loader)});
        }
    }
    return text;
}

std::string PortTooltip(const PortListing& listing, int n) {
    if (n == 0) {
        std::string boot;
        std::string others;
        for (const HidLoaderEntry& loader : listing.loaders) {
            if (loader.IsBootLoader()) {
                boot += (boot.empty() ? "" : ", ") + LoaderPath(loader);
            } else {
                others += "; " + LoaderPath(loader) + " is " + DescribeIdentity(loader);
            }
        }
        return boot.empty() ? "USB Port: no boot-mode device present" + others
                            : "USB Port: boot-mode device at " + boot;
    }
    const auto com = std::find_if(listing.comPorts.begin(), listing.comPorts.end(),
                                  [n](const ComPortEntry& entry) { return entry.n == n; });
    if (com == listing.comPorts.end()) {
        return {};
    }
    std::string text = "COM" + std::to_string(n) + ": " + ComPath(*com, " → ") + " — ";
    if (com->status != ComStatus::Port) {
        return text + DescribeStatus(com->status);
    }
    const auto port =
        std::find_if(listing.ports.begin(), listing.ports.end(),
                     [&](const SerialPortEntry& p) { return p.device == com->device; });
    if (port == listing.ports.end()) {
        return text + DescribeStatus(com->status);
    }
    text += port->driver.empty() ? "serial port" : port->driver;
    if (!port->description.empty()) {
        text += ", " + port->description;
    }
    if (port->usb) {
        text += ", " + DescribeUsb(*port->usb);
    }
    return text;
}

}  // namespace tarvik::ports
