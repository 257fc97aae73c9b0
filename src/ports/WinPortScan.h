#pragma once

#include <filesystem>
#include <optional>
#include <vector>

#include "ports/PortListing.h"

// The machine's COM ports and USB loaders as the system's device setup (SetupAPI) records
// them. Nothing here opens a port or a device.
namespace tarvik::ports::setupapi {

// The COM ports present, COM2 before COM10, each at \\.\COMn; nothing when the system would
// not list them.
std::optional<std::vector<SerialPortEntry>> ScanComPorts();

// Where COMn's configured name leads; the port it names learns its COMn.
ComPortEntry LocateCom(int n, const std::filesystem::path& configured,
                       std::vector<SerialPortEntry>& ports);

// The HID devices of the loader's vendor in the order the updater tries them, each with what
// sets it apart from the boot-mode device; nothing when the system would not list them.
std::optional<std::vector<HidLoaderEntry>> ScanLoaders();

}  // namespace tarvik::ports::setupapi
