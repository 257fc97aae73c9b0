#include "ports/HidLoaderScan.h"

#include <algorithm>
#include <string_view>

#include "hid/HidReports.h"
#include "ports/Sysfs.h"

namespace tarvik::ports::sysfs {
namespace {

struct Uevent {
    std::optional<std::string> id;
    std::string name;
    std::string uniq;
};

Uevent ParseUevent(const std::string& text) {
    Uevent uevent;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string_view line(text.data() + at, end - at);
        const auto equals = line.find('=');
        if (equals != std::string_view::npos) {
            const std::string_view key = line.substr(0, equals);
            const std::string value(line.substr(equals + 1));
            if (key == "HID_ID") {
                uevent.id = value;
            } else if (key == "HID_NAME") {
                uevent.name = value;
            } else if (key == "HID_UNIQ") {
                uevent.uniq = value;
            }
        }
        at = end + 1;
    }
    return uevent;
}

struct HidId {
    std::uint16_t bus = 0;
    std::uint32_t vendor = 0;
    std::uint32_t product = 0;
};

// HID_ID=0003:0000FFFF:00000012: bus, vendor, product.
std::optional<HidId> ParseHidId(std::string_view text) {
    const auto first = text.find(':');
    const auto second = first == std::string_view::npos ? first : text.find(':', first + 1);
    if (second == std::string_view::npos) {
        return std::nullopt;
    }
    const auto bus = ParseHex16(text.substr(0, first));
    const auto vendor = ParseHex(text.substr(first + 1, second - first - 1));
    const auto product = ParseHex(text.substr(second + 1));
    if (!bus || !vendor || !product) {
        return std::nullopt;
    }
    return HidId{*bus, *vendor, *product};
}

std::optional<fs::path> HidrawNode(const fs::path& hidDevice, const fs::path& devRoot) {
    std::error_code ec;
    fs::directory_iterator it(hidDevice / "hidraw", ec);
    if (ec) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with("hidraw")) {
            names.push_back(name);
        }
    }
    if (names.empty()) {
        return std::nullopt;
    }
    return devRoot / *std::min_element(names.begin(), names.end(), StableNaturalLess);
}

void AddDifference(HidLoaderEntry& entry, const char* what, std::optional<std::uint16_t> actual,
                   std::uint16_t expected) {
    if (actual != expected) {
        entry.differences.push_back({what, actual, expected});
    }
}

std::string SortKey(const HidLoaderEntry& entry) {
    return entry.device ? entry.device->string() : entry.name;
}

}  // namespace

std::vector<HidLoaderEntry> ScanLoaders(const ListingRoots& roots, const fs::path& sysTop,
                                        const fs::path& devRoot, bool& found) {
    std::vector<HidLoaderEntry> loaders;
    std::error_code ec;
    fs::directory_iterator it(roots.sys / "bus" / "hid" / "devices", ec);
    found = !ec;
    if (ec) {
        return loaders;
    }
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        const fs::path entry = it->path();
        const auto uevent = ReadAttribute(entry / "uevent");
        if (!uevent) {
            continue;
        }
        const Uevent parsed = ParseUevent(*uevent);
        const auto id = parsed.id ? ParseHidId(*parsed.id) : std::nullopt;
        if (!id || id->vendor != hid::kBootLoader.vendorId || id->product > 0xFFFF) {
            continue;
        }
        HidLoaderEntry loader;
        loader.name = entry.filename().string();
        loader.device = HidrawNode(entry, devRoot);
        loader.bus = id->bus;
        loader.vendorId = static_cast<std::uint16_t>(id->vendor);
        loader.productId = static_cast<std::uint16_t>(id->product);
        loader.hidName = parsed.name;
        loader.uniq = parsed.uniq;
        if (const auto device = Resolved(entry)) {
            if (const auto usb = AncestorWith(*device, sysTop, {"idVendor", "bcdDevice"})) {
                loader.version = ReadHex16(*usb / "bcdDevice");
            }
        }
        AddDifference(loader, "vendor", loader.vendorId, hid::kBootLoader.vendorId);
        AddDifference(loader, "product", loader.productId, hid::kBootLoader.productId);
        AddDifference(loader, "version", loader.version, hid::kBootLoader.versionNumber);
        loaders.push_back(std::move(loader));
    }
    std::sort(loaders.begin(), loaders.end(), [](const auto& a, const auto& b) {
        return StableNaturalLess(SortKey(a), SortKey(b));
    });
    return loaders;
}

}  // namespace tarvik::ports::sysfs
