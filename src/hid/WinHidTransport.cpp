#include "hid/WinHidTransport.h"

// clang-format off
#include <windows.h>
// mingw-w64's HID header declares C functions without saying so.
extern "C" {
#include <hidsdi.h>
}
// clang-format on

#include <algorithm>
#include <cstring>

#include "hid/SystemHidTransport.h"
#include "hid/WinDeviceSet.h"
#include "hid/WinHandle.h"
#include "hid/WinText.h"

namespace tarvik {
namespace {

using win::WinHandle;

constexpr DWORD kReportBytes = static_cast<DWORD>(kHidReportSize);
// The longest wait one read may ask for: INFINITE would never come back.
constexpr DWORD kLongestWait = INFINITE - 1;

int ErrorOr(DWORD error, DWORD fallback) {
    return static_cast<int>(error != ERROR_SUCCESS ? error : fallback);
}

// What the system answers once a device has been unplugged: reads that were waiting end
// with one of these, and every read after them fails with one.
bool MeansGone(DWORD error) {
    switch (error) {
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case ERROR_FILE_NOT_FOUND:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_DEVICE_REMOVED:
        case ERROR_OPERATION_ABORTED:  // a read the system cancelled, not one of ours
            return true;
        default:
            return false;
    }
}

WinHandle OpenPath(const std::wstring& path, DWORD access, DWORD flags) {
    return WinHandle(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, flags, nullptr));
}

std::optional<HidAttributes> AttributesOf(HANDLE handle) {
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    if (!HidD_GetAttributes(handle, &attributes)) {
        return std::nullopt;
    }
    return HidAttributes{attributes.VendorID, attributes.ProductID, attributes.VersionNumber};
}

// Reads go through the overlapped handle so that each one can be given up after its time;
// writes go through the other, synchronous one, and return once the report has gone out.
// Each handle serves one thread at a time, so nothing here locks.
class WinHidDevice final : public HidDevice {
public:
    WinHidDevice(WinHandle read, WinHandle write, WinHandle readDone)
        : m_read(std::move(read)), m_write(std::move(write)), m_readDone(std::move(readDone)) {}

    std::optional<HidAttributes> GetAttributes() override { return AttributesOf(m_read.Get()); }

    int Write(const HidReport& report) override {
        // Report ID 0x00 first: the device numbers no reports, and the system sends the 64
        // bytes after it.
        DWORD written = 0;
        if (!WriteFile(m_write.Get(), report.data(), kReportBytes, &written, nullptr)) {
            return ErrorOr(GetLastError(), ERROR_WRITE_FAULT);
        }
        return written == kReportBytes ? 0 : ERROR_WRITE_FAULT;
    }

    HidReadResult Read(HidReport& report, std::chrono::milliseconds timeout) override {
        const auto wait = static_cast<DWORD>(
            std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 1, kLongestWait));
        // The record and the buffer are the device's own: the system writes into them until
        // the read has ended, which every way out below waits for.
        m_overlapped = OVERLAPPED{};
        m_overlapped.hEvent = m_readDone.Get();
        ResetEvent(m_readDone.Get());
        bool cancelled = false;
        if (!ReadFile(m_read.Get(), m_buffer.data(), kReportBytes, nullptr, &m_overlapped)) {
            const DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) {
                return Failure(error);
            }
            if (WaitForSingleObject(m_readDone.Get(), wait) != WAIT_OBJECT_0) {
                // This thread started the read, so CancelIo reaches it; a report that came in
                // the meantime still completes it normally and is kept.
                CancelIo(m_read.Get());
                cancelled = true;
            }
        }
        DWORD count = 0;
        if (!GetOverlappedResult(m_read.Get(), &m_overlapped, &count, TRUE)) {
            const DWORD error = GetLastError();
            if (cancelled && error == ERROR_OPERATION_ABORTED) {
                return {HidReadResult::Status::TimedOut, 0, 0};
            }
            return Failure(error);
        }
        // The system delivers the report ID in front of the contents, as the updater reads it.
        const std::size_t got = std::min<std::size_t>(count, kHidReportSize);
        std::memcpy(report.data(), m_buffer.data(), got);
        return {HidReadResult::Status::Report, got, 0};
    }

private:
    static HidReadResult Failure(DWORD error) {
        if (MeansGone(error)) {
            return {HidReadResult::Status::DeviceGone, 0, static_cast<int>(error)};
        }
        return {HidReadResult::Status::Failed, 0, ErrorOr(error, ERROR_READ_FAULT)};
    }

    const WinHandle m_read;
    const WinHandle m_write;
    const WinHandle m_readDone;
    OVERLAPPED m_overlapped{};
    HidReport m_buffer{};
};

}  // namespace

std::unique_ptr<HidTransport> MakeSystemHidTransport() {
    return std::make_unique<WinHidTransport>();
}

std::optional<std::vector<HidDeviceInfo>> WinHidTransport::Enumerate() {
    GUID hidClass;
    HidD_GetHidGuid(&hidClass);
    const auto set = win::DeviceSet::WithInterface(hidClass);
    if (!set) {
        return std::nullopt;
    }
    std::vector<HidDeviceInfo> devices;
    // The walk ends at the first interface the system cannot give, as the updater's search
    // always has: what lies behind it is not looked at.
    for (DWORD index = 0;; ++index) {
        const auto entry = set->InterfaceAt(index, hidClass);
        if (!entry) {
            break;
        }
        HidDeviceInfo info{entry->path, {}};
        if (const auto path = win::Wide(entry->path)) {
            // No access asked for: enough for the attributes, and it disturbs no one.
            if (const WinHandle handle = OpenPath(*path, 0, 0)) {
                info.attributes = AttributesOf(handle.Get()).value_or(HidAttributes{});
            }
        }
        devices.push_back(std::move(info));
    }
    return devices;
}

std::unique_ptr<HidDevice> WinHidTransport::Open(const std::string& path) {
    const auto wide = win::Wide(path);
    if (!wide || wide->empty()) {
        return nullptr;
    }
    WinHandle read = OpenPath(*wide, GENERIC_READ, FILE_FLAG_OVERLAPPED);
    if (!read) {
        return nullptr;
    }
    WinHandle write = OpenPath(*wide, GENERIC_WRITE, 0);
    if (!write) {
        return nullptr;
    }
    // Manual reset: it stays signalled once the read has ended, however late we look.
    WinHandle readDone(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!readDone) {
        return nullptr;
    }
    return std::make_unique<WinHidDevice>(std::move(read), std::move(write), std::move(readDone));
}

}  // namespace tarvik
