// clang-format off
#include <windows.h>
#include <initguid.h>
#include <devguid.h>
// clang-format on

#include <algorithm>
#include <cctype>
#include <set>
#include <string_view>

#include "hid/WinDeviceSet.h"
#include "hid/WinText.h"
#include "ports/WinPortScan.h"

namespace tarvik::ports::setupapi {
namespace {

using win::DeviceSet;

// GUID_DEVINTERFACE_COMPORT; its header wants the driver kit's types.
constexpr GUID kComPortInterface = {
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// The number of "COM12"; nothing for LPT1 and other names the Ports class also holds.
std::optional<int> ComNumber(const std::string& name) {
    const std::string upper = Upper(name);
    if (upper.size() < 4 || upper.size() > 6 || !upper.starts_with("COM") ||
        !std::all_of(upper.begin() + 3, upper.end(),
                     [](unsigned char c) { return std::isdigit(c) != 0; })) {
        return std::nullopt;
    }
    return std::stoi(upper.substr(3));
}

// A USB adapter's IDs from its hardware IDs: "USB\VID_2341&PID_0043&REV_0001" for the
// system's own driver, "FTDIBUS\COMPORT&VID_0403&PID_6001" for FTDI's.
std::optional<UsbIdentity> UsbIdentityOf(const std::vector<std::string>& hardwareIds) {
    for (const std::string& id : hardwareIds) {
        const auto vendor = win::HardwareIdField(id, "VID_");
        const auto product = win::HardwareIdField(id, "PID_");
        if (vendor && product) {
            UsbIdentity usb;
            usb.vendorId = *vendor;
            usb.productId = *product;
            return usb;
        }
    }
    return std::nullopt;
}

// Adds the COM ports of `set` not listed yet.
void AddPorts(const DeviceSet& set, std::set<std::string>& seen,
              std::vector<SerialPortEntry>& ports) {
    for (DWORD index = 0;; ++index) {
        const auto device = set.DeviceAt(index);
        if (!device) {
            return;
        }
        // The port's name as the system gives it out, kept in the device's own key.
        const std::string name = set.RegistryText(device->info, L"PortName");
        if (!ComNumber(name) || !seen.insert(Upper(name)).second) {
            continue;
        }
        SerialPortEntry port;
        port.name = name;
        port.device = "\\\\.\\" + name;
        port.driver = set.Text(device->info, SPDRP_SERVICE);
        port.description = set.Text(device->info, SPDRP_FRIENDLYNAME);
        if (port.description.empty()) {
            port.description = set.Text(device->info, SPDRP_DEVICEDESC);
        }
        port.usb = UsbIdentityOf(set.Texts(device->info, SPDRP_HARDWAREID));
        ports.push_back(std::move(port));
    }
}

// "COM3" of "\\.\COM3" and of "COM3"; anything else as it is.
std::string DosName(const std::string& configured) {
    for (const std::string_view prefix : {"\\\\.\\", "\\\\?\\"}) {
        if (configured.starts_with(prefix)) {
            return configured.substr(prefix.size());
        }
    }
    return configured;
}

// Whether the name leads anywhere at all: the DOS device names are asked about, which
// opens nothing; a path is looked up as a file.
bool Exists(const std::string& name, const std::filesystem::path& configured) {
    if (name.find_first_of("\\/:") == std::string::npos) {
        const auto wide = win::Wide(name);
        wchar_t target[MAX_PATH];
        return wide && !wide->empty() &&
               (QueryDosDeviceW(wide->c_str(), target, MAX_PATH) != 0 ||
                GetLastError() == ERROR_INSUFFICIENT_BUFFER);
    }
    std::error_code ec;
    return std::filesystem::symlink_status(configured, ec).type() !=
           std::filesystem::file_type::not_found;
}

}  // namespace

std::optional<std::vector<SerialPortEntry>> ScanComPorts() {
    // Most ports are in the Ports class; a modem's or a phone's port may only expose the
    // COM port interface.
    auto ofClass = DeviceSet::OfClass(GUID_DEVCLASS_PORTS);
    auto withInterface = DeviceSet::WithInterface(kComPortInterface);
    if (!ofClass && !withInterface) {
        return std::nullopt;
    }
    std::vector<SerialPortEntry> ports;
    std::set<std::string> seen;
    for (const auto* set : {&ofClass, &withInterface}) {
        if (*set) {
            AddPorts(**set, seen, ports);
        }
    }
    std::sort(ports.begin(), ports.end(),
              [](const auto& a, const auto& b) { return ComNumber(a.name) < ComNumber(b.name); });
    return ports;
}

ComPortEntry LocateCom(int n, const std::filesystem::path& configured,
                       std::vector<SerialPortEntry>& ports) {
    ComPortEntry com;
    com.n = n;
    com.configured = configured;
    com.device = configured;
    const std::string name = DosName(configured.string());
    for (SerialPortEntry& port : ports) {
        if (Upper(port.name) == Upper(name)) {
            port.comPorts.push_back(n);
            com.device = port.device;
            com.status = ComStatus::Port;
            return com;
        }
    }
    com.status = Exists(name, configured) ? ComStatus::NotSerial : ComStatus::Missing;
    return com;
}

}  // namespace tarvik::ports::setupapi
