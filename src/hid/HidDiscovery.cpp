// Finding the boot-mode device among the HID devices present, and letting it go again.
#include "app/UpdaterDlg.h"
#include "hid/HidMessages.h"
#include "hid/HidReports.h"

namespace tarvik {

bool CUpdaterDlg::OpenHidDevice() {
    const auto devices = m_links.hid ? m_links.hid->Enumerate() : std::nullopt;
    if (!devices) {
        AfxMessageBox(kNoHidHandle);
        return false;
    }
    // The first match in the system's order wins; devices that refuse a read-write or a
    // second opening are passed over.
    for (const HidDeviceInfo& info : *devices) {
        std::shared_ptr<HidDevice> read = m_links.hid->Open(info.path);
        std::shared_ptr<HidDevice> write = m_links.hid->Open(info.path);
        if (!read || !write) {
            continue;
        }
        const auto attributes = read->GetAttributes();
        if (!attributes) {
            AfxMessageBox(kNoHidAttributes);
            return false;
        }
        if (*attributes == hid::kBootLoader) {
            std::lock_guard lock(m_dataLock);
            m_hHidRead = std::move(read);
            m_hHidWrite = std::move(write);
            return true;
        }
    }
    return false;
}

void CUpdaterDlg::CloseHidDevice() {
    std::shared_ptr<HidDevice> read;
    std::shared_ptr<HidDevice> write;
    {
        std::lock_guard lock(m_dataLock);
        read.swap(m_hHidRead);
        write.swap(m_hHidWrite);
    }
    read.reset();  // the read handle first, as it was opened first
}

}  // namespace tarvik
