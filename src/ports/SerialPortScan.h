#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "ports/PortListing.h"

// The serial ports of the tty class, and where each COMn leads.
namespace tarvik::ports::sysfs {

struct SerialScan {
    bool found = false;
    std::vector<SerialPortEntry> ports;
    std::vector<std::string> emptyUarts;
    std::set<std::string> withoutDevice;  // consoles and the like: ttys, but no serial ports
};

// The ttys with a device behind them, in natural order; 8250 ports without a UART apart.
SerialScan ScanSerialPorts(const ListingRoots& roots, const std::filesystem::path& sysTop,
                           const std::filesystem::path& devRoot);

// Where COMn's configured path leads, and why not a port when it does not lead to one;
// the port it leads to learns its COMn.
ComPortEntry LocateCom(int n, const std::filesystem::path& configured,
                       const std::filesystem::path& devRoot, SerialScan& scan);

}  // namespace tarvik::ports::sysfs
