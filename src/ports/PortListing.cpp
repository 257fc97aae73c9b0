#include "ports/PortListing.h"

#include "ports/HidLoaderScan.h"
#include "ports/SerialPortScan.h"
#include "ports/Sysfs.h"

namespace tarvik::ports {
namespace {

namespace fs = std::filesystem;
using namespace sysfs;

constexpr int kFirstCom = 1;
constexpr int kLastCom = 9;

}  // namespace

PortListing ListPorts(const ListingRoots& roots, const PortNames& names) {
    const fs::path devRoot = Normal(roots.dev);
    // Walks up the device tree stop at the top of sysfs.
    const fs::path sysTop = Resolved(roots.sys).value_or(Normal(roots.sys));

    PortListing listing;
    SerialScan scan = ScanSerialPorts(roots, sysTop, devRoot);
    for (int n = kFirstCom; n <= kLastCom; ++n) {
        if (const auto configured = names.Resolve(n)) {
            listing.comPorts.push_back(LocateCom(n, *configured, devRoot, scan));
        }
    }
    listing.ttyClassFound = scan.found;
    listing.ports = std::move(scan.ports);
    listing.emptyUarts = std::move(scan.emptyUarts);
    listing.loaders = ScanLoaders(roots, sysTop, devRoot, listing.hidBusFound);
    return listing;
}

}  // namespace tarvik::ports
