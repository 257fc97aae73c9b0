#include "ports/PortListing.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <set>
#include <string_view>

#include "hid/HidReports.h"

namespace tarvik::ports {
namespace {

namespace fs = std::filesystem;

constexpr int kFirstCom = 1;
constexpr int kLastCom = 9;
// sysfs attributes are a line or two; anything longer is not one we understand.
constexpr std::size_t kMaxAttribute = 4096;
// Device trees are a dozen levels deep at most; the bound only keeps a looping tree finite.
constexpr int kMaxWalk = 32;
constexpr int kMaxLinkHops = 16;
constexpr std::uint16_t kBusUsb = 0x0003;

// --- reading sysfs ---------------------------------------------------------------------

// The text of one sysfs attribute without its trailing line break; nothing when it is not
// there or cannot be read.
std::optional<std::string> ReadAttribute(const fs::path& file) {
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) {
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string text(kMaxAttribute, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) {
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(in.gcount()));
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())) != 0) {
        text.pop_back();
    }
    return text;
}

std::optional<std::uint32_t> ParseHex(std::string_view text) {
    std::uint32_t value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, 16);
    if (text.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint16_t> ParseHex16(std::string_view text) {
    const auto value = ParseHex(text);
    if (!value || *value > 0xFFFF) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(*value);
}

std::optional<std::uint16_t> ReadHex16(const fs::path& file) {
    const auto text = ReadAttribute(file);
    return text ? ParseHex16(*text) : std::nullopt;
}

std::string ReadText(const fs::path& file) {
    return ReadAttribute(file).value_or(std::string());
}

// Where `link` leads with every symbolic link followed; nothing when it leads nowhere.
std::optional<fs::path> Resolved(const fs::path& link) {
    std::error_code ec;
    fs::path target = fs::canonical(link, ec);
    if (ec) {
        return std::nullopt;
    }
    return target;
}

// The nearest folder from `dir` up that holds every one of `files`, not above `top`.
std::optional<fs::path> AncestorWith(fs::path dir, const fs::path& top,
                                     std::initializer_list<const char*> files) {
    for (int level = 0; level < kMaxWalk; ++level) {
        const bool all = std::all_of(files.begin(), files.end(), [&](const char* file) {
            std::error_code ec;
            return fs::exists(dir / file, ec);
        });
        if (all) {
            return dir;
        }
        if (dir == top || !dir.has_relative_path()) {
            break;
        }
        dir = dir.parent_path();
    }
    return std::nullopt;
}

// The driver bound to `dir`. Since Linux 6.5 the serial core hangs a port and a controller
// device of its own (bus serial-base, drivers "port" and "ctrl") between a UART's tty and
// the UART's device; the driver worth naming is the one above them.
std::string DriverOf(fs::path dir, const fs::path& top) {
    for (int level = 0; level < kMaxWalk; ++level) {
        std::error_code ec;
        const fs::path target = fs::read_symlink(dir / "driver", ec);
        if (ec) {
            return {};
        }
        if (target.parent_path().parent_path().filename() != "serial-base") {
            return target.filename().string();
        }
        if (dir == top || !dir.has_relative_path()) {
            break;
        }
        dir = dir.parent_path();
    }
    return {};
}

std::optional<UsbIdentity> UsbIdentityOf(const fs::path& device, const fs::path& top) {
    const auto usb = AncestorWith(device, top, {"idVendor", "idProduct"});
    if (!usb) {
        return std::nullopt;
    }
    const auto vendor = ReadHex16(*usb / "idVendor");
    const auto product = ReadHex16(*usb / "idProduct");
    if (!vendor || !product) {
        return std::nullopt;
    }
    return UsbIdentity{*vendor, *product, ReadText(*usb / "product"),
                       ReadText(*usb / "manufacturer"), ReadText(*usb / "serial")};
}

// --- order -------------------------------------------------------------------------------

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Runs of digits compare as numbers, so ttyS2 comes before ttyS10.
bool NaturalLess(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            std::size_t iEnd = i;
            std::size_t jEnd = j;
            while (iEnd < a.size() && IsDigit(a[iEnd])) {
                ++iEnd;
            }
            while (jEnd < b.size() && IsDigit(b[jEnd])) {
                ++jEnd;
            }
            std::string_view x = a.substr(i, iEnd - i);
            std::string_view y = b.substr(j, jEnd - j);
            x.remove_prefix(std::min(x.find_first_not_of('0'), x.size()));
            y.remove_prefix(std::min(y.find_first_not_of('0'), y.size()));
            if (x.size() != y.size()) {
                return x.size() < y.size();
            }
            if (x != y) {
                return x < y;
            }
            i = iEnd;
            j = jEnd;
        } else {
            if (a[i] != b[j]) {
                return a[i] < b[j];
            }
            ++i;
            ++j;
        }
    }
    return i == a.size() && j != b.size();
}

// A total order: names equal as numbers ("ttyS01", "ttyS1") still sort the same every time.
bool StableNaturalLess(const std::string& a, const std::string& b) {
    if (NaturalLess(a, b)) {
        return true;
    }
    return !NaturalLess(b, a) && a < b;
}

// --- serial ports --------------------------------------------------------------------------

fs::path Normal(const fs::path& path) {
    fs::path normal = path.lexically_normal();
    if (!normal.has_filename() && normal.has_relative_path()) {
        normal = normal.parent_path();
    }
    return normal;
}

struct SerialScan {
    bool found = false;
    std::vector<SerialPortEntry> ports;
    std::vector<std::string> emptyUarts;
    std::set<std::string> withoutDevice;  // consoles and the like: ttys, but no serial ports
};

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

// --- HID devices ------------------------------------------------------------------------

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

// --- text ------------------------------------------------------------------------------

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

std::string FormatPortListing(const PortListing& listing) {
    std::string text;
    if (!listing.ttyClassFound) {
        text += "Serial ports: none (this system has no class/tty in sysfs)\n";
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
        text += heading + std::string(" none (this system has no bus/hid in sysfs)\n");
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
    if (port->usb) {
        text += ", " + DescribeUsb(*port->usb);
    }
    return text;
}

}  // namespace tarvik::ports
