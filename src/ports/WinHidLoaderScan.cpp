// clang-format off
#include <windows.h>
// mingw-w64's HID header declares C functions without saying so.
extern "C" {
#include <hidsdi.h>
}
// clang-format on

#include "hid/HidReports.h"
#include "hid/WinDeviceSet.h"
#include "ports/WinPortScan.h"

namespace tarvik::ports::setupapi {
namespace {

// The HID class names USB devices "HID\VID_FFFF&PID_0012&REV_0100" from the very attributes
// the updater compares; Bluetooth and I2C devices are named otherwise.
constexpr std::uint16_t kBusUsb = 0x0003;

struct Identity {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::optional<std::uint16_t> version;
};

std::optional<Identity> IdentityOf(const std::vector<std::string>& hardwareIds) {
    for (const std::string& id : hardwareIds) {
        const auto vendor = win::HardwareIdField(id, "VID_");
        const auto product = win::HardwareIdField(id, "PID_");
        if (vendor && product) {
            return Identity{*vendor, *product, win::HardwareIdField(id, "REV_")};
        }
    }
    return std::nullopt;
}

void AddDifference(HidLoaderEntry& entry, const char* what, std::optional<std::uint16_t> actual,
                   std::uint16_t expected) {
    if (actual != expected) {
        entry.differences.push_back({what, actual, expected});
    }
}

}  // namespace

std::optional<std::vector<HidLoaderEntry>> ScanLoaders() {
    GUID hidClass;
    HidD_GetHidGuid(&hidClass);
    const auto set = win::DeviceSet::WithInterface(hidClass);
    if (!set) {
        return std::nullopt;
    }
    std::vector<HidLoaderEntry> loaders;
    for (DWORD index = 0;; ++index) {
        const auto entry = set->InterfaceAt(index, hidClass);
        if (!entry) {
            break;
        }
        const auto identity = IdentityOf(set->Texts(entry->info, SPDRP_HARDWAREID));
        if (!identity || identity->vendor != hid::kBootLoader.vendorId) {
            continue;
        }
        HidLoaderEntry loader;
        loader.name = set->InstanceId(entry->info);
        loader.device = entry->path;
        loader.bus = kBusUsb;
        loader.vendorId = identity->vendor;
        loader.productId = identity->product;
        loader.version = identity->version;
        loader.hidName = set->Text(entry->info, SPDRP_FRIENDLYNAME);
        if (loader.hidName.empty()) {
            loader.hidName = set->Text(entry->info, SPDRP_DEVICEDESC);
        }
        AddDifference(loader, "vendor", loader.vendorId, hid::kBootLoader.vendorId);
        AddDifference(loader, "product", loader.productId, hid::kBootLoader.productId);
        AddDifference(loader, "version", loader.version, hid::kBootLoader.versionNumber);
        loaders.push_back(std::move(loader));
    }
    return loaders;
}

}  // namespace tarvik::ports::setupapi
