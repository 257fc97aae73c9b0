#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "ports/PortListing.h"

// Reading sysfs for the port listing: small attribute files and symbolic links only; no
// device is ever opened.
namespace tarvik::ports::sysfs {

namespace fs = std::filesystem;

// The text of one sysfs attribute without its trailing line break; nothing when it is not
// there or cannot be read.
std::optional<std::string> ReadAttribute(const fs::path& file);
std::optional<std::uint32_t> ParseHex(std::string_view text);
std::optional<std::uint16_t> ParseHex16(std::string_view text);
std::optional<std::uint16_t> ReadHex16(const fs::path& file);
// Where `link` leads with every symbolic link followed; nothing when it leads nowhere.
std::optional<fs::path> Resolved(const fs::path& link);
// The nearest folder from `dir` up that holds every one of `files`, not above `top`.
std::optional<fs::path> AncestorWith(fs::path dir, const fs::path& top,
                                     std::initializer_list<const char*> files);
// The driver bound to `dir`, skipping the serial core's own port and controller devices.
std::string DriverOf(fs::path dir, const fs::path& top);
// Vendor and product IDs, names and serial number of the USB device above `device`.
std::optional<UsbIdentity> UsbIdentityOf(const fs::path& device, const fs::path& top);
// Runs of digits compare as numbers (ttyS2 before ttyS10); a total order.
bool StableNaturalLess(const std::string& a, const std::string& b);
// The path without "." and "..", and without a trailing separator.
fs::path Normal(const fs::path& path);

}  // namespace tarvik::ports::sysfs
