#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/DialogView.h"
#include "app/UpdaterState.h"
#include "clock/Clock.h"
#include "hid/HidTransport.h"
#include "image/ConvertElfToBin.h"
#include "image/FirmwareFiles.h"
#include "image/FirmwareImage.h"
#include "image/OperatorMessage.h"
#include "serial/PortNames.h"
#include "serial/SerialPort.h"

namespace tarvik {

// What the dialog reaches outside itself; a missing link makes its road unavailable.
struct UpdaterLinks {
    SerialPortOpener* serial = nullptr;
    const PortNames* ports = nullptr;
    HidTransport* hid = nullptr;
};

// How the last update ended, for fronts that report an exit status.
enum class UpdateOutcome { None, Succeeded, Failed, Cancelled };

// What a window that is asked to close does.
enum class CloseAnswer {
    Close,          // nothing runs: close now
    Stay,           // the operator chose to let the download finish
    CloseWhenDone,  // the update has been told to end; close once UpdateRunning() is false
};

// Command ids of the dialog's controls and commands.
inline constexpr int kIdBrowse = 1020;
inline constexpr int kIdRun = 1025;
inline constexpr int kIdStop = 1026;
inline constexpr int kIdClearCradleId = 1031;
inline constexpr int kIdSerialDownload = 1022;
inline constexpr int kIdCommand = 1018;
inline constexpr int kIdReset = 1007;
inline constexpr int kIdVersion = 1008;
inline constexpr int kIdSetCradleId = 1029;
inline constexpr int kIdCmdKe99 = 1032;
inline constexpr int kIdCmdText = 1034;
inline constexpr int kIdCmdDash02 = 1035;
inline constexpr int kIdCmdQuery = 1036;
inline constexpr int kIdSetUndiscover = 1037;
inline constexpr int kIdCmdCr02 = 1038;
inline constexpr int kIdCmdKe01 = 1039;
inline constexpr int kIdCmdKe97 = 1040;
inline constexpr int kIdCmdRaw = 1044;
inline constexpr int kIdResetCommand = 1046;
inline constexpr int kIdVersionCommand = 1047;
inline constexpr unsigned kIdmAboutBox = 16;

// The updater: its state, every handler and every road. It knows no toolkit and reaches
// the operator only through its DialogView.
class CUpdaterDlg : public UpdaterState {
public:
    CUpdaterDlg(DialogView& view, const Clock& clock, std::string appTitle,
                UpdaterLinks links = {});
    // Ends whatever still runs (a search stops, a download ends at its next step) and joins
    // every worker.
    virtual ~CUpdaterDlg();

    CUpdaterDlg(const CUpdaterDlg&) = delete;
    CUpdaterDlg& operator=(const CUpdaterDlg&) = delete;

    bool OnInitDialog();

    // Run: converts the firmware when needed, then starts the road of the selected port.
    void OnRun();
    // Ends a serial search and closes the serial port.
    void OnStop();
    // The close box, Alt+F4 or the system menu's Close: the search ends; a running download
    // ends at its next step once the operator confirms.
    CloseAnswer OnClose();
    // Esc, or Enter outside a push button: the same, without the close message's pause.
    CloseAnswer OnCancelOrOk();
    // True from the start of an update until its last thread has enabled Run again.
    bool UpdateRunning() const { return !m_bRunEnabled; }
    // "Search...": the operator picks the firmware file.
    void OnBrowse();
    void OnClearCradleId();
    // A command reaching the dialog: runs the handler of the first matching entry of the
    // message map; false when no entry matches.
    bool OnCommand(int id);
    // Ends the running update with nothing more sent (Ctrl+C, a window closed during a
    // download): the serial port is aborted, so a worker blocked on it wakes at once.
    void CancelUpdate();
    // Waits for the workers of the last update to end.
    void JoinWorkers();
    UpdateOutcome LastOutcome() const { return m_outcome; }

    // Serial port access on m_hComm.
    bool OpenSerialPort();
    bool WriteSerialOnce(std::span<const std::uint8_t> data);
    int ReadSerial(char* buffer, int count, std::uint32_t timeout);
    bool WriteSerialBytes(SerialPort& port, std::span<const std::uint8_t> data);
    // One write request, telling the operator when the port failed or the line stalled.
    bool WriteOrTell(SerialPort& port, std::span<const std::uint8_t> data);
    // "The serial port was closed or failed.", unless the operation was cancelled, which
    // closed the port on purpose.
    void TellPortLost();

    // The serial road: wake, search, download.
    void RunSerial();
    void SendThreadProc();
    void ReceiveThreadProc();
    void SerialDownload();
    bool WaitAck(SerialPort& port);

    // Maintenance commands, at 9600 baud on the selected COM port.
    void OnCmdKe99();
    void OnCmdKe01();
    void OnCmdKe97();
    void OnCmdDash02();
    void OnReset();
    void OnVersion();
    void OnCmdQuery();
    void OnSetUndiscover();
    void OnCmdCr02();
    void OnCmdText();
    void OnSendCommand();
    void OnSetCradleId();
    void OnCmdRaw();

    // The USB road: find the boot-mode device, send reports, read acknowledgements.
    void RunHid();
    bool OpenHidDevice();
    void CloseHidDevice();
    bool SendHidStart();
    bool SendHidBlock(int page, BlockData data);
    void HidReadThreadProc();
    void HidDownloadThreadProc();

    // true: controls into members; false: members into controls. False when a value
    // fails its check (the operator has been told).
    bool UpdateData(bool bSaveAndValidate = true);

    // The window's box: the caption given, or the application title.
    void MessageBox(const std::string& text, const std::optional<std::string>& caption = {},
                    unsigned type = kMbOk);
    // The application's box: application title, exclamation icon.
    void AfxMessageBox(const std::string& text);
    void ShowMessage(const OperatorMessage& message);

    // Status line: the text into m_strStatus, then the members into the controls.
    void SetStatus(const std::string& text);
    void SetProgress(int position);
    // `done` of the image's blocks are acknowledged.
    void ReportBlocks(std::uint32_t done, const FirmwareImage& image);
    void EnableRunButton(bool enable);

    // Converts `title`.out of the chosen folder into `title`.bin and tells the operator why
    // when it cannot.
    ConversionStatus ConvertElfToBin(const std::string& title);

    // The chosen firmware as it stands now.
    FirmwareFile CurrentFirmware() const;

    // The serial port in m_hComm, shared with whoever uses it, or none.
    std::shared_ptr<SerialPort> Port() const;
    // Takes the port out of m_hComm and closes it; a thread blocked on it wakes and fails.
    void ClosePort();
    // The same, dropping whatever is still queued for output.
    void AbortPort();
    // Closes `port`, and empties m_hComm if it still holds that port.
    void ClosePort(const std::shared_ptr<SerialPort>& port);

protected:
    using WorkerProc = void (CUpdaterDlg::*)();
    // Starts a worker in `slot`; false when the system cannot start it. Nothing a worker
    // throws leaves it: its update ends through a failure exit.
    virtual bool StartWorker(std::thread& slot, WorkerProc proc);
    // What a worker that threw does instead of ending the process.
    void EndWorkerUnexpectedly(WorkerProc proc, const std::string& what);

private:
    // Raises a flag for the length of a scope.
    class FlagScope {
    public:
        explicit FlagScope(std::atomic<bool>& flag) : m_flag(flag) { m_flag = true; }
        ~FlagScope() { m_flag = false; }
        FlagScope(const FlagScope&) = delete;
        FlagScope& operator=(const FlagScope&) = delete;

    private:
        std::atomic<bool>& m_flag;
    };

    DialogData Snapshot() const;
    // The port in m_hComm, which is left empty.
    std::shared_ptr<SerialPort> TakePort();
    CloseAnswer AskToClose();
    bool Confirm(const std::string& caption, const std::string& text);
    // Maintenance: refuses (and says so) while an update runs, whether or not it holds the
    // serial port at this moment.
    bool RefusedDuringUpdate();
    // Run's check of the raw image before any device is touched.
    bool ImageReadyToSend();
    void SetBaudIndex(int index);
    // A command frame: the lead byte, then the four characters; `replyKind` says how the
    // reply is read and judged.
    void SendCommandFrame(std::string_view command, int replyKind);
    void SendTypedCommand(const std::string UpdaterState::*member);
    // A lead byte and a frame, each through its own opening of the port.
    bool SendTwoFrames(std::uint8_t lead, const std::vector<std::uint8_t>& frame);
    void SetOutcome(UpdateOutcome outcome) { m_outcome = outcome; }
    // A download's failure exit: release, close, then tell the operator.
    void EndDownload(const std::shared_ptr<SerialPort>& port, FirmwareImage& image,
                     const std::string& text, const std::string& caption);
    void EndCancelled(const std::shared_ptr<SerialPort>& port, FirmwareImage& image);
    // Waits for the reader to see an acknowledgement: at most 500 polls of 1 ms.
    bool WaitHidAck();
    // Tells the reader to stop and waits for it, so that its handle can be closed.
    void StopHidReader();
    // The write handle, or none after telling the operator that the device is not open.
    std::shared_ptr<HidDevice> HidWriteHandle();

    DialogView& m_view;
    const Clock& m_clock;
    const std::string m_appTitle;
    UpdaterLinks m_links;

    std::atomic<bool> m_bRunEnabled{true};
    std::atomic<bool> m_bCancel{false};
    std::atomic<bool> m_bDownloading{false};  // a download (not a search) is under way
    std::atomic<UpdateOutcome> m_outcome{UpdateOutcome::None};
    std::thread m_sendThread;
    std::thread m_receiveThread;
    std::thread m_hidThread;
    std::thread m_hidReadThread;  // started and joined by the HID worker
};

// The one dialog of the process, set when it initialises and cleared when it goes away.
extern std::atomic<CUpdaterDlg*> g_pUpdaterDlg;

// The application title: the executable's name without folder and extension.
std::string ApplicationTitle(const std::filesystem::path& executable);

}  // namespace tarvik
