#include "app/UpdaterDlg.h"

#include "app/OperatorTexts.h"
#include "image/FirmwareFiles.h"

#include <exception>
#include <system_error>
#include <utility>

namespace tarvik {

std::atomic<CUpdaterDlg*> g_pUpdaterDlg{nullptr};

namespace {

constexpr std::size_t kCommandMaxChars = 4;

// Characters, not bytes: the edit's limit counts what the operator typed.
std::size_t CharacterCount(const std::string& utf8) {
    std::size_t count = 0;
    for (const unsigned char c : utf8) {
        count += (c & 0xC0) != 0x80 ? 1 : 0;
    }
    return count;
}

}  // namespace

std::string ApplicationTitle(const std::filesystem::path& executable) {
    return executable.stem().string();
}

CUpdaterDlg::CUpdaterDlg(DialogView& view, const Clock& clock, std::string appTitle,
                         UpdaterLinks links)
    : m_view(view), m_clock(clock), m_appTitle(std::move(appTitle)), m_links(links) {}

CUpdaterDlg::~CUpdaterDlg() {
    CancelUpdate();
    JoinWorkers();
    ClosePort();
    CUpdaterDlg* self = this;
    g_pUpdaterDlg.compare_exchange_strong(self, nullptr);
}

bool CUpdaterDlg::OnInitDialog() {
    UpdateData(false);  // the port list starts without a selection
    {
        std::lock_guard lock(m_dataLock);
        m_nBaud = 0;
    }
    UpdateData(false);
    g_pUpdaterDlg = this;
    m_bIdle = 1;
    {
        std::lock_guard lock(m_dataLock);
        m_nPort = 0;
    }
    UpdateData(false);  // "USB Port" becomes the selection
    return true;
}

DialogData CUpdaterDlg::Snapshot() const {
    std::lock_guard lock(m_dataLock);
    return {m_nPort, m_strFileTitle, m_strStatus, m_strCommand};
}

bool CUpdaterDlg::UpdateData(bool bSaveAndValidate) {
    if (!bSaveAndValidate) {
        m_view.ShowData(Snapshot());
        return true;
    }
    DialogData data = Snapshot();
    m_view.ReadData(data);
    {
        std::lock_guard lock(m_dataLock);
        m_nPort = data.m_nPort;
        m_strFileTitle = data.m_strFileTitle;
        m_strStatus = data.m_strStatus;
        m_strCommand = data.m_strCommand;
    }
    if (CharacterCount(data.m_strCommand) > kCommandMaxChars) {
        AfxMessageBox("Please enter no more than 4 characters.");
        return false;
    }
    return true;
}

void CUpdaterDlg::MessageBox(const std::string& text, const std::optional<std::string>& caption,
                             unsigned type) {
    m_view.ShowMessageBox({MessageKind::Window, caption.value_or(m_appTitle), text, type});
}

void CUpdaterDlg::AfxMessageBox(const std::string& text) {
    m_view.ShowMessageBox({MessageKind::Application, m_appTitle, text, kMbOk | kMbIconExclamation});
}

void CUpdaterDlg::ShowMessage(const OperatorMessage& message) {
    if (message.kind == MessageKind::Application) {
        AfxMessageBox(message.text);
    } else {
        MessageBox(message.text, message.caption);
    }
}

void CUpdaterDlg::SetStatus(const std::string& text) {
    {
        std::lock_guard lock(m_dataLock);
        m_strStatus = text;
    }
    UpdateData(false);
}

void CUpdaterDlg::SetProgress(int position) {
    m_view.SetProgress(position);
}

void CUpdaterDlg::ReportBlocks(std::uint32_t done, const FirmwareImage& image) {
    m_view.SetBlockProgress(done, image.m_nBlockCount, std::uint64_t{done} * kBlockSize);
}

void CUpdaterDlg::EnableRunButton(bool enable) {
    m_bRunEnabled = enable;
    m_view.EnableRun(enable);
}

FirmwareFile CUpdaterDlg::CurrentFirmware() const {
    std::lock_guard lock(m_dataLock);
    return {m_strFileFolder, m_strFileTitle, m_strFileExt};
}

ConversionStatus CUpdaterDlg::ConvertElfToBin(const std::string& title) {
    FirmwareFile file = CurrentFirmware();
    file.title = title;
    const ConversionResult result = tarvik::ConvertElfToBin(file);
    if (result.message) {
        ShowMessage(*result.message);
    }
    return result.status;
}

}  // namespace tarvik

namespace tarvik {

void CUpdaterDlg::OnRun() {
    // A disabled Run button cannot be pressed; a command that reaches us anyway is ignored.
    if (!m_bRunEnabled) {
        return;
    }
    JoinWorkers();  // the last update's threads have ended; reap them
    m_bCancel = false;
    UpdateData(true);
    std::string ext;
    std::string title;
    int port = 0;
    {
        std::lock_guard lock(m_dataLock);
        ext = m_strFileExt;
        title = m_strFileTitle;
        port = m_nPort;
    }
    if (!EqualsNoCase(ext, "BIN")) {
        switch (ConvertElfToBin(title)) {
            case ConversionStatus::Converted:
                break;
            case ConversionStatus::Failed:
                MessageBox("File Convert fail!", "Error");
                return;
            case ConversionStatus::OutputFailed:
                return;  // the operator has been told which file and why
        }
    }
    m_outcome = UpdateOutcome::None;
    // No device is woken or opened for an image that cannot be sent: a loader left waiting
    // with nothing to flash leaves the device without firmware.
    if (!ImageReadyToSend()) {
        return;
    }
    if (port == 0) {
        RunHid();
    } else {
        RunSerial();
    }
}

void CUpdaterDlg::OnStop() {
    m_bIdle = 1;
    {
        std::lock_guard lock(m_dataLock);
        m_strStatus = kStopped;
    }
    ClosePort();
    UpdateData(false);
}

CloseAnswer CUpdaterDlg::OnClose() {
    m_bIdle = 1;
    m_clock.SleepFor(std::chrono::milliseconds(50));
    return AskToClose();
}

CloseAnswer CUpdaterDlg::OnCancelOrOk() {
    if (UpdateRunning()) {
        m_bIdle = 1;  // a search ends, whichever way the window goes
    }
    return AskToClose();
}

CloseAnswer CUpdaterDlg::AskToClose() {
    if (!UpdateRunning()) {
        return CloseAnswer::Close;
    }
    if (m_bDownloading && !Confirm(m_appTitle, kConfirmStopDownload)) {
        return CloseAnswer::Stay;
    }
    // A search ends without a download; a download ends at its next step. No thread may
    // outlive the dialog, so the window waits for them.
    CancelUpdate();
    return CloseAnswer::CloseWhenDone;
}

bool CUpdaterDlg::Confirm(const std::string& caption, const std::string& text) {
    return m_view.Confirm(caption, text);
}

void CUpdaterDlg::OnBrowse() {
    UpdateData(true);
    const auto chosen = m_view.AskFirmwareFile();
    if (!chosen) {
        return;
    }
    const FirmwareFile file = FirmwareFileFromPath(*chosen);
    {
        std::lock_guard lock(m_dataLock);
        m_strFileFolder = file.folder;
        m_strFileTitle = file.title;
        m_strFileExt = file.ext;
    }
    UpdateData(false);
}

void CUpdaterDlg::OnClearCradleId() {
    {
        std::lock_guard lock(m_dataLock);
        m_strCradleId.clear();
    }
    UpdateData(false);
}

bool CUpdaterDlg::ImageReadyToSend() {
    if (const auto error = FirmwareImage::Check(CurrentFirmware())) {
        ShowMessage(*error);
        SetOutcome(UpdateOutcome::Failed);
        return false;
    }
    return true;
}

void CUpdaterDlg::CancelUpdate() {
    m_bCancel = true;
    m_bIdle = 1;
    AbortPort();
}

void CUpdaterDlg::JoinWorkers() {
    for (std::thread* worker : {&m_sendThread, &m_receiveThread, &m_hidThread}) {
        if (worker->joinable() && worker->get_id() != std::this_thread::get_id()) {
            worker->join();
        }
    }
}

std::shared_ptr<SerialPort> CUpdaterDlg::Port() const {
    std::lock_guard lock(m_dataLock);
    return m_hComm;
}

std::shared_ptr<SerialPort> CUpdaterDlg::TakePort() {
    std::lock_guard lock(m_dataLock);
    return std::exchange(m_hComm, nullptr);
}

void CUpdaterDlg::ClosePort() {
    if (const auto port = TakePort()) {
        port->Close();
    }
}

void CUpdaterDlg::AbortPort() {
    if (const auto port = TakePort()) {
        port->Abort();
    }
}

void CUpdaterDlg::ClosePort(const std::shared_ptr<SerialPort>& port) {
    {
        std::lock_guard lock(m_dataLock);
        if (m_hComm == port) {
            m_hComm.reset();
        }
    }
    if (port) {
        port->Close();
    }
}

bool CUpdaterDlg::StartWorker(std::thread& slot, WorkerProc proc) {
    try {
        slot = std::thread([this, proc] {
            try {
                (this->*proc)();
            } catch (const std::exception& e) {
                EndWorkerUnexpectedly(proc, e.what());
            } catch (...) {
                EndWorkerUnexpectedly(proc, "unknown error");
            }
        });
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void CUpdaterDlg::EndWorkerUnexpectedly(WorkerProc proc, const std::string& what) {
    try {
        MessageBox("Unexpected error: " + what, "Fail", kMbIconHand);
    } catch (...) {
        // The view itself failed: the update still ends below.
    }
    if (proc == &CUpdaterDlg::SendThreadProc) {
        m_bIdle = 1;  // the receive thread ends the update
        return;
    }
    if (proc == &CUpdaterDlg::HidReadThreadProc) {
        return;  // the download sees no acknowledgement and ends through its own exit
    }
    // The receive thread or the HID worker: the threads that end an update.
    m_bIdle = 1;
    StopHidReader();
    CloseHidDevice();
    ClosePort();
    SetOutcome(UpdateOutcome::Failed);
    try {
        EnableRunButton(true);
    } catch (...) {
        m_bRunEnabled = true;
    }
}

}  // namespace tarvik
