#pragma once

#include <filesystem>
#include <vector>

#include "ports/PortListing.h"

namespace tarvik::ports::sysfs {

// The HID devices of the loader's vendor, each with what sets it apart from the boot-mode
// device; `found` says whether the HID bus was there at all.
std::vector<HidLoaderEntry> ScanLoaders(const ListingRoots& roots,
                                        const std::filesystem::path& sysTop,
                                        const std::filesystem::path& devRoot, bool& found);

}  // namespace tarvik::ports::sysfs
