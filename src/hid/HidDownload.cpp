// The USB road: Run's branch for "USB Port" and the download worker.
#include "app/UpdaterDlg.h"
#include "hid/HidMessages.h"

namespace tarvik {
namespace {

constexpr int kAckPolls = 500;
constexpr std::chrono::milliseconds kAckPoll{1};
constexpr std::chrono::milliseconds kFailedSendPause{500};
constexpr std::chrono::milliseconds kFinishPause{2500};

}  // namespace

void CUpdaterDlg::RunHid() {
    if (!OpenHidDevice()) {
        MessageBox(kNotInBootMode, "Prompt");
        CloseHidDevice();
        return;
    }
    EnableRunButton(false);
    m_bCancel = false;
    if (!StartWorker(m_hidThread, &CUpdaterDlg::HidDownloadThreadProc)) {
        CloseHidDevice();
        MessageBox(kHidWorkerFail);
        EnableRunButton(true);
    }
}

bool CUpdaterDlg::WaitHidAck() {
    for (int poll = 0; poll < kAckPolls && !m_bCancel; ++poll) {
        m_clock.SleepFor(kAckPoll);
        if (m_bHidAck.exchange(0) != 0) {
            return true;
        }
    }
    return false;
}

void CUpdaterDlg::StopHidReader() {
    m_bHidReading = 0;
    if (m_hidReadThread.joinable()) {
        m_hidReadThread.join();
    }
}

void CUpdaterDlg::HidDownloadThreadProc() {
    const FlagScope downloading(m_bDownloading);
    m_bHidReading = 1;
    if (!StartWorker(m_hidReadThread, &CUpdaterDlg::HidReadThreadProc)) {
        // Without a reader no acknowledgement can ever be seen: nothing is sent.
        m_bHidReading = 0;
        CloseHidDevice();
        SetOutcome(UpdateOutcome::Failed);
        MessageBox(kHidReaderFail);
        EnableRunButton(true);
        return;
    }
    SetProgress(0);
    SetStatus(kProgressing);

    FirmwareImage image;
    // Every way out: the reader stopped and joined, the device closed, the image released,
    // then Run enabled again.
    const auto finish = [&](UpdateOutcome outcome) {
        StopHidReader();
        CloseHidDevice();
        image.Release();
        SetOutcome(outcome);
        if (outcome == UpdateOutcome::Cancelled) {
            SetStatus(kStopped);
        }
        EnableRunButton(true);
    };
    const auto failedSend = [&] {
        m_bHidReading = 0;
        m_clock.SleepFor(kFailedSendPause);
        finish(UpdateOutcome::Failed);
    };

    if (const auto error = image.Load(CurrentFirmware())) {
        ShowMessage(*error);
        return finish(UpdateOutcome::Failed);
    }
    if (m_bCancel) {
        return finish(UpdateOutcome::Cancelled);
    }
    if (!SendHidStart()) {
        return failedSend();
    }
    std::uint32_t done = 0;
    for (const std::uint32_t index : image.SendOrder()) {
        if (m_bCancel) {
            return finish(UpdateOutcome::Cancelled);
        }
        const FirmwareBlock block = image.GetBlock(index);
        m_bHidAck = 0;
        if (!SendHidBlock(block.m_nPage, block.Data())) {
            return failedSend();
        }
        const bool acknowledged = WaitHidAck();
        if (m_bCancel) {
            return finish(UpdateOutcome::Cancelled);
        }
        if (!acknowledged) {
            m_bHidReading = 0;
            MessageBox(index != 0 ? HidText("NO ACK ,Block no:0X%02X", block.m_nPage)
                                  : std::string(kNoAckBlockZero));
            return finish(UpdateOutcome::Failed);
        }
        if (index != 0) {
            SetProgress(static_cast<int>(image.ProgressAfter(index)));
        }
        ReportBlocks(++done, image);
    }

    StopHidReader();
    CloseHidDevice();
    m_clock.SleepFor(kFinishPause);
    SetProgress(100);
    SetOutcome(UpdateOutcome::Succeeded);
    MessageBox(kDownloadFinished, "Update");
    SetStatus(kDownloadFinished);
    finish(UpdateOutcome::Succeeded);
}

}  // namespace tarvik
