// The report link: start report, a block's 42 reports, and the reader that turns input
// reports into the acknowledgement flag.
#include "app/UpdaterDlg.h"
#include "hid/HidMessages.h"
#include "hid/HidReports.h"

namespace tarvik {
namespace {

// The reader looks at its flag at least this often.
constexpr std::chrono::milliseconds kReadSlice{100};

}  // namespace

std::shared_ptr<HidDevice> CUpdaterDlg::HidWriteHandle() {
    std::shared_ptr<HidDevice> device;
    {
        std::lock_guard lock(m_dataLock);
        device = m_hHidWrite;
    }
    if (!device) {
        AfxMessageBox(kDeviceNotOpen);
    }
    return device;
}

bool CUpdaterDlg::SendHidStart() {
    const auto device = HidWriteHandle();
    if (!device) {
        return false;
    }
    if (const int error = device->Write(hid::StartReport())) {
        AfxMessageBox(HidText("Send error= %d", error));
        return false;
    }
    return true;
}

bool CUpdaterDlg::SendHidBlock(int page, BlockData data) {
    const auto device = HidWriteHandle();
    if (!device) {
        return false;
    }
    const auto reports =
        hid::BlockReports(static_cast<std::uint16_t>(page), ComputeBlockChecksum(page, data), data);
    if (const int error = device->Write(reports.front())) {
        AfxMessageBox(HidText("Send error= %d", error));
        return false;
    }
    int left = static_cast<int>(data.size());
    for (std::size_t i = 1; i < reports.size(); ++i) {
        left -= reports[i][2];
        if (const int error = device->Write(reports[i])) {
            AfxMessageBox(HidText("Send error= %d len=%d", error, left));
            AfxMessageBox(kCouldNotSendData);
            return false;
        }
    }
    return true;
}

void CUpdaterDlg::HidReadThreadProc() {
    std::shared_ptr<HidDevice> device;
    {
        std::lock_guard lock(m_dataLock);
        device = m_hHidRead;
    }
    const auto slice =
        std::max(std::chrono::milliseconds(1),
                 std::chrono::ceil<std::chrono::milliseconds>(m_clock.RealDuration(kReadSlice)));
    HidReport report{};
    while (m_bHidReading && device) {
        const HidReadResult result = device->Read(report, slice);
        switch (result.status) {
            case HidReadResult::Status::TimedOut:
                break;
            case HidReadResult::Status::DeviceGone:
                // Nothing will come any more: idle quietly until told to stop.
                m_clock.SleepFor(kReadSlice);
                break;
            case HidReadResult::Status::Failed:
                AfxMessageBox(HidText("Read error= %d", result.error));
                return;
            case HidReadResult::Status::Report:
                if (result.count < 3) {
                    AfxMessageBox(HidText("Only read %d bytes", static_cast<int>(result.count)));
                } else if (hid::IsAckReport(report, result.count)) {
                    m_bHidAck = 1;
                }
                break;
        }
    }
}

}  // namespace tarvik
