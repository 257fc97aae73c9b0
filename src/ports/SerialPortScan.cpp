#include "ports/SerialPortScan.h"

#include <algorithm>

#include "ports/Sysfs.h"

namespace tarvik::ports::sysfs {
namespace {

constexpr int kMaxLinkHops = 16;

// A path as the listing's roots see it: a node the machine names /dev/... is looked up
// under the dev root, so that a listing of a test's tree reads its own folder.
fs::path UnderDevRoot(const fs::path& path, const fs::path& devRoot) {
    static const fs::path kMachineDev = "/dev";
    const fs::path normal = Normal(path);
    if (devRoot == kMachineDev) {
        return normal;
    }
    const fs::path relative = normal.lexically_relative(kMachineDev);
    if (relative.empty() || relative == "." || *relative.begin() == "..") {
        return normal;
    }
    return devRoot / relative;
}

// Follows the symbolic links of `path` itself (a /dev/serial/by-id/... name) by reading
// them, never by opening what they lead to.
fs::path FollowLinks(fs::path path, const fs::path& devRoot, bool& throughLink) {
    path = UnderDevRoot(path, devRoot);
    throughLink = false;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(path, ec))) {
            break;
        }
        const fs::path target = fs::read_symlink(path, ec);
        if (ec) {
            break;
        }
        path = target.is_absolute() ? UnderDevRoot(target, devRoot)
                                    : Normal(path.parent_path() / target);
        throughLink = true;
    }
    return path;
}

}  // namespace

SerialScan ScanSerialPorts(const ListingRoots& roots, const fs::path& sysTop,
                           const fs::path& devRoot) {
    SerialScan scan;
    const fs::path ttyClass = roots.sys / "class" / "tty";
    std::error_code ec;
    fs::directory_iterator it(ttyClass, ec);
    if (ec) {
        return scan;
    }
    scan.found = true;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        const fs::path entry = it->path();
        const std::string name = entry.filename().string();
        std::error_code linkEc;
        if (!fs::is_symlink(fs::symlink_status(entry / "device", linkEc))) {
            // Virtual consoles and pseudo-terminals: no device behind them.
            scan.withoutDevice.insert(name);
            continue;
        }
        // The 8250 driver registers all of its ports whether or not a UART answers there;
        // type 0 is its "no UART".
        if (ReadAttribute(entry / "type") == "0") {
            scan.emptyUarts.push_back(name);
            continue;
        }
        SerialPortEntry port;
        port.name = name;
        port.device = devRoot / name;
        if (const auto device = Resolved(entry / "device")) {
            port.driver = DriverOf(*device, sysTop);
            port.usb = UsbIdentityOf(*device, sysTop);
        }
        scan.ports.push_back(std::move(port));
    }
    std::sort(scan.ports.begin(), scan.ports.end(),
              [](const auto& a, const auto& b) { return StableNaturalLess(a.name, b.name); });
    std::sort(scan.emptyUarts.begin(), scan.emptyUarts.end(), StableNaturalLess);
    return scan;
}

ComPortEntry LocateCom(int n, const fs::path& configured, const fs::path& devRoot,
                       SerialScan& scan) {
    ComPortEntry com;
    com.n = n;
    com.configured = configured;
    com.device = FollowLinks(configured, devRoot, com.throughLink);
    for (SerialPortEntry& port : scan.ports) {
        if (port.device == com.device) {
            port.comPorts.push_back(n);
            com.status = ComStatus::Port;
            return com;
        }
    }
    const bool inDevRoot = com.device.parent_path() == devRoot;
    const std::string name = com.device.filename().string();
    std::error_code ec;
    if (inDevRoot &&
        std::find(scan.emptyUarts.begin(), scan.emptyUarts.end(), name) != scan.emptyUarts.end()) {
        com.status = ComStatus::NoUart;
    } else if ((inDevRoot && scan.withoutDevice.contains(name)) ||
               fs::symlink_status(com.device, ec).type() != fs::file_type::not_found) {
        com.status = ComStatus::NotSerial;
    } else {
        com.status = ComStatus::Missing;
    }
    return com;
}

}  // namespace tarvik::ports::sysfs
