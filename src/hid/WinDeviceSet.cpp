#include "hid/WinDeviceSet.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstddef>

#include "hid/WinText.h"

namespace tarvik::win {
namespace {

// The text up to its first NUL, never past the end of what the system filled in.
std::string TextOf(const wchar_t* text, std::size_t capacity) {
    return Utf8(std::wstring_view(text, std::find(text, text + capacity, L'\0') - text));
}

// Registry keys close on every way out, as handles do.
class RegistryKey {
public:
    explicit RegistryKey(HKEY key) : m_key(key) {}
    ~RegistryKey() {
        if (Valid()) {
            RegCloseKey(m_key);
        }
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    HKEY Get() const { return m_key; }
    bool Valid() const {
        return m_key != nullptr && m_key != reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    }

private:
    const HKEY m_key;
};

bool IsHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

char Upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Upper(x) == Upper(y); });
}

}  // namespace

std::optional<DeviceSet> DeviceSet::WithInterface(const GUID& interfaceClass) {
    return Present(interfaceClass, DIGCF_DEVICEINTERFACE);
}

std::optional<DeviceSet> DeviceSet::OfClass(const GUID& setupClass) {
    return Present(setupClass, 0);
}

std::optional<DeviceSet> DeviceSet::Present(const GUID& guid, DWORD flags) {
    const HDEVINFO set = SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | flags);
    if (set == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    return DeviceSet(set);
}

DeviceSet::~DeviceSet() {
    if (m_set != INVALID_HANDLE_VALUE) {
        SetupDiDestroyDeviceInfoList(m_set);
    }
}

DeviceSet::DeviceSet(DeviceSet&& other) noexcept : m_set(other.m_set) {
    other.m_set = INVALID_HANDLE_VALUE;
}

std::optional<SetDevice> DeviceSet::InterfaceAt(DWORD index, const GUID& interfaceClass) const {
    SP_DEVICE_INTERFACE_DATA entry{};
    entry.cbSize = sizeof entry;
    if (!SetupDiEnumDeviceInterfaces(m_set, nullptr, &interfaceClass, index, &entry)) {
        return std::nullopt;
    }
    // The first call only tells the size of the detail record.
    DWORD required = 0;
    if (SetupDiGetDeviceInterfaceDetailW(m_set, &entry, nullptr, 0, &required, nullptr) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
        required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        return std::nullopt;
    }
    // Whole DWORDs, so that the record is aligned as the system expects.
    std::vector<DWORD> record((required + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(record.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    SetDevice device;
    device.info.cbSize = sizeof device.info;
    if (!SetupDiGetDeviceInterfaceDetailW(m_set, &entry, detail, required, nullptr, &device.info)) {
        return std::nullopt;
    }
    const std::size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
    device.path = TextOf(detail->DevicePath, (required - pathOffset) / sizeof(wchar_t));
    return device;
}

std::optional<SetDevice> DeviceSet::DeviceAt(DWORD index) const {
    SetDevice device;
    device.info.cbSize = sizeof device.info;
    if (!SetupDiEnumDeviceInfo(m_set, index, &device.info)) {
        return std::nullopt;
    }
    return device;
}

std::string DeviceSet::Text(const SP_DEVINFO_DATA& device, DWORD property) const {
    const auto texts = Texts(device, property);
    return texts.empty() ? std::string() : texts.front();
}

std::vector<std::string> DeviceSet::Texts(const SP_DEVINFO_DATA& device, DWORD property) const {
    auto* info = const_cast<SP_DEVINFO_DATA*>(&device);
    DWORD type = 0;
    DWORD required = 0;
    if (SetupDiGetDeviceRegistryPropertyW(m_set, info, property, &type, nullptr, 0, &required) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || required == 0) {
        return {};
    }
    // Two NULs more than asked for, so that a value stored without its ending still ends.
    std::vector<wchar_t> buffer(required / sizeof(wchar_t) + 2, L'\0');
    if (!SetupDiGetDeviceRegistryPropertyW(m_set, info, property, &type,
                                           reinterpret_cast<BYTE*>(buffer.data()), required,
                                           nullptr) ||
        (type != REG_SZ && type != REG_MULTI_SZ)) {
        return {};
    }
    std::vector<std::string> texts;
    const wchar_t* at = buffer.data();
    const wchar_t* const end = buffer.data() + buffer.size();
    while (at < end && *at != L'\0') {
        const wchar_t* stop = std::find(at, end, L'\0');
        texts.push_back(Utf8(std::wstring_view(at, static_cast<std::size_t>(stop - at))));
        if (type == REG_SZ) {
            break;
        }
        at = stop + 1;
    }
    return texts;
}

std::string DeviceSet::InstanceId(const SP_DEVINFO_DATA& device) const {
    auto* info = const_cast<SP_DEVINFO_DATA*>(&device);
    DWORD required = 0;
    if (SetupDiGetDeviceInstanceIdW(m_set, info, nullptr, 0, &required) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || required == 0) {
        return {};
    }
    std::vector<wchar_t> buffer(required + 1, L'\0');
    if (!SetupDiGetDeviceInstanceIdW(m_set, info, buffer.data(), required, nullptr)) {
        return {};
    }
    return TextOf(buffer.data(), buffer.size());
}

std::string DeviceSet::RegistryText(const SP_DEVINFO_DATA& device, const wchar_t* name) const {
    auto* info = const_cast<SP_DEVINFO_DATA*>(&device);
    const RegistryKey key(
        SetupDiOpenDevRegKey(m_set, info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE));
    if (!key.Valid()) {
        return {};
    }
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.Get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_SZ || size == 0) {
        return {};
    }
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                         &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return {};
    }
    return TextOf(buffer.data(), buffer.size());
}

std::optional<std::uint16_t> HardwareIdField(std::string_view id, std::string_view key) {
    constexpr std::size_t kDigits = 4;
    for (std::size_t at = 0; at + key.size() + kDigits <= id.size(); ++at) {
        // A field starts the ID or follows a separator: "USB\VID_", "&PID_", "+PID_".
        const bool startsField =
            at == 0 || id[at - 1] == '\\' || id[at - 1] == '&' || id[at - 1] == '+';
        if (!startsField || !SameIgnoringCase(id.substr(at, key.size()), key)) {
            continue;
        }
        const std::string_view digits = id.substr(at + key.size(), kDigits);
        const std::size_t after = at + key.size() + kDigits;
        if (!std::all_of(digits.begin(), digits.end(), IsHexDigit) ||
            (after < id.size() && IsHexDigit(id[after]))) {
            return std::nullopt;
        }
        std::uint16_t value = 0;
        std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
        return value;
    }
    return std::nullopt;
}

}  // namespace tarvik::win
