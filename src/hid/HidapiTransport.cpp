#include "hid/HidapiTransport.h"
#include "hid/SystemHidTransport.h"

#include <hidapi.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cwchar>
#include <unordered_set>

namespace tarvik {
namespace {

// What follows the report ID; the loader numbers no reports, so this is all a read returns.
constexpr std::size_t kReportContents = kHidReportSize - 1;

int ErrnoOr(int fallback) {
    return errno != 0 ? errno : fallback;
}

// hidapi handles are not thread-safe. The updater uses each device from one thread at a
// time (the reader reads through one handle, the worker writes through another on the same
// device), so nothing here locks.
class HidapiDevice final : public HidDevice {
public:
    explicit HidapiDevice(hid_device* handle) : m_handle(handle) {}
    ~HidapiDevice() override { hid_close(m_handle); }
    HidapiDevice(const HidapiDevice&) = delete;
    HidapiDevice& operator=(const HidapiDevice&) = delete;

    std::optional<HidAttributes> GetAttributes() override {
        // Owned by the handle; freed by hid_close.
        const hid_device_info* info = hid_get_device_info(m_handle);
        if (info == nullptr) {
            return std::nullopt;
        }
        return HidAttributes{info->vendor_id, info->product_id, info->release_number};
    }

    int Write(const HidReport& report) override {
        // Report ID 0x00 first: it tells the system the device numbers no reports, and only
        // the 64 bytes after it go out.
        errno = 0;
        const int written = hid_write(m_handle, report.data(), report.size());
        if (written < 0) {
            return ErrnoOr(EIO);
        }
        // hidraw writes whole reports; a short one means the report did not go out.
        return static_cast<std::size_t>(written) < report.size() ? EIO : 0;
    }

    HidReadResult Read(HidReport& report, std::chrono::milliseconds timeout) override {
        // At least 1 ms, since 0 would only poll; at most INT_MAX, since -1 blocks for ever.
        const auto ms = std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 1, INT_MAX);
        // Cleared first: a disconnect seen by poll leaves errno as it found it.
        errno = 0;
        const int got =
            hid_read_timeout(m_handle, report.data() + 1, kReportContents, static_cast<int>(ms));
        if (got > 0) {
            // hidapi hands back the bare contents; the updater reads them after a report ID
            // of 0x00, as Windows delivers them.
            report[0] = 0x00;
            return {HidReadResult::Status::Report, static_cast<std::size_t>(got) + 1, 0};
        }
        if (got == 0) {
            return {HidReadResult::Status::TimedOut, 0, 0};
        }
        const int error = ErrnoOr(EIO);
        if (error == EINTR) {
            // A signal cut the wait short: nothing came, and the reader's next slice tries
            // again. It is no reason for the reader to end.
            return {HidReadResult::Status::TimedOut, 0, 0};
        }
        if (error == ENODEV || error == ENXIO || error == EPIPE || Disconnected()) {
            return {HidReadResult::Status::DeviceGone, 0, error};
        }
        return {HidReadResult::Status::Failed, 0, error};
    }

private:
    // hidraw reports an unplugged device through poll, with no errno, only in its text.
    bool Disconnected() {
        const wchar_t* text = hid_error(m_handle);
        return text != nullptr && std::wcsstr(text, L"disconnected") != nullptr;
    }

    hid_device* const m_handle;
};

struct EnumerationFree {
    void operator()(hid_device_info* list) const { hid_free_enumeration(list); }
};

}  // namespace

std::unique_ptr<HidTransport> MakeSystemHidTransport() {
    return std::make_unique<HidapiTransport>();
}

HidapiTransport::HidapiTransport() : m_initialised(hid_init() == 0) {}

HidapiTransport::~HidapiTransport() {
    if (m_initialised) {
        hid_exit();
    }
}

std::optional<std::vector<HidDeviceInfo>> HidapiTransport::Enumerate() {
    if (!m_initialised) {
        return std::nullopt;
    }
    // Owned at once, so the list is freed on every way out, an exception included.
    const std::unique_ptr<hid_device_info, EnumerationFree> list(hid_enumerate(0, 0));
    std::vector<HidDeviceInfo> devices;
    std::unordered_set<std::string> seen;
    // hidapi lists a device once per top-level usage; the updater opens paths, so one each.
    for (const hid_device_info* info = list.get(); info != nullptr; info = info->next) {
        if (info->path == nullptr || !seen.insert(info->path).second) {
            continue;
        }
        devices.push_back({info->path, {info->vendor_id, info->product_id, info->release_number}});
    }
    return devices;
}

std::unique_ptr<HidDevice> HidapiTransport::Open(const std::string& path) {
    if (!m_initialised) {
        return nullptr;
    }
    hid_device* handle = hid_open_path(path.c_str());
    if (handle == nullptr) {
        return nullptr;
    }
    try {
        return std::make_unique<HidapiDevice>(handle);
    } catch (...) {
        hid_close(handle);
        throw;
    }
}

}  // namespace tarvik
