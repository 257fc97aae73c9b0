#include "ports/PortListing.h"
#include "ports/WinPortScan.h"

namespace tarvik::ports {
namespace {

constexpr int kFirstCom = 1;
constexpr int kLastCom = 9;

}  // namespace

// Windows has no tree to point elsewhere: the roots are not used.
PortListing ListPorts(const ListingRoots& /*roots*/, const PortNames& names) {
    PortListing listing;
    if (auto ports = setupapi::ScanComPorts()) {
        listing.ttyClassFound = true;
        listing.ports = std::move(*ports);
    }
    for (int n = kFirstCom; n <= kLastCom; ++n) {
        if (const auto configured = names.Resolve(n)) {
            listing.comPorts.push_back(setupapi::LocateCom(n, *configured, listing.ports));
        }
    }
    if (auto loaders = setupapi::ScanLoaders()) {
        listing.hidBusFound = true;
        listing.loaders = std::move(*loaders);
    }
    return listing;
}

}  // namespace tarvik::ports
