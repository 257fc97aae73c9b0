#pragma once

// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik::win {

// One device of a set. `path` opens it; it is filled when the set is walked by interface.
struct SetDevice {
    SP_DEVINFO_DATA info{};
    std::string path;
};

// The system's record of the devices present now (a SetupAPI device information set),
// released on every way out. Everything here reads what the system keeps about a device;
// nothing opens one.
class DeviceSet {
public:
    // The devices that expose interface class `interfaceClass`; nothing when the system
    // cannot give them.
    static std::optional<DeviceSet> WithInterface(const GUID& interfaceClass);
    // The devices of setup class `setupClass`.
    static std::optional<DeviceSet> OfClass(const GUID& setupClass);

    ~DeviceSet();
    DeviceSet(DeviceSet&& other) noexcept;
    DeviceSet& operator=(DeviceSet&&) = delete;
    DeviceSet(const DeviceSet&) = delete;
    DeviceSet& operator=(const DeviceSet&) = delete;

    // The interface at `index` (0, 1, ...) with its path and device. Nothing past the last
    // one, and nothing when the system cannot give this one: a walk ends there either way.
    std::optional<SetDevice> InterfaceAt(DWORD index, const GUID& interfaceClass) const;
    // The device at `index`, without a path; nothing past the last one.
    std::optional<SetDevice> DeviceAt(DWORD index) const;

    // A text property (SPDRP_FRIENDLYNAME, SPDRP_SERVICE, ...); empty when there is none.
    std::string Text(const SP_DEVINFO_DATA& device, DWORD property) const;
    // A list property (SPDRP_HARDWAREID: the most specific ID first).
    std::vector<std::string> Texts(const SP_DEVINFO_DATA& device, DWORD property) const;
    // "USB\VID_0403&PID_6001\A1B2C3"; empty when the system does not say.
    std::string InstanceId(const SP_DEVINFO_DATA& device) const;
    // A text value of the device's own registry key ("PortName"), opened for reading only;
    // empty when there is none.
    std::string RegistryText(const SP_DEVINFO_DATA& device, const wchar_t* name) const;

private:
    explicit DeviceSet(HDEVINFO set) : m_set(set) {}
    static std::optional<DeviceSet> Present(const GUID& guid, DWORD flags);

    HDEVINFO m_set;
};

// The four hex digits after `key` ("VID_", "PID_", "REV_") in a hardware ID such as
// "USB\VID_0403&PID_6001&REV_0600", in either case; nothing when the ID has no such field.
std::optional<std::uint16_t> HardwareIdField(std::string_view id, std::string_view key);

}  // namespace tarvik::win
