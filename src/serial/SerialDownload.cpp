// The serial download: lock-step, every command and block frame acknowledged with "U5U".
#include <cstdio>

#include "app/UpdaterDlg.h"
#include "serial/SerialFrames.h"
#include "serial/SerialMessages.h"

namespace tarvik {
namespace {

constexpr std::chrono::milliseconds kPurgePause{100};
constexpr std::chrono::milliseconds kAckTimeout{5000};
constexpr std::chrono::milliseconds kRebootPause{5};

}  // namespace

void CUpdaterDlg::SerialDownload() {
    const FlagScope downloading(m_bDownloading);
    const auto port = Port();  // ours until the end, even if m_hComm is closed under us
    SetProgress(0);
    FirmwareImage image;
    if (!port) {
        SetOutcome(UpdateOutcome::Failed);
        return;
    }
    if (const auto error = image.Load(CurrentFirmware())) {
        ClosePort(port);
        ShowMessage(*error);
        SetOutcome(UpdateOutcome::Failed);
        return;
    }
    SetStatus(kProgressing);
    // Whatever the loader sent during the search goes here.
    for (int i = 0; i < 2; ++i) {
        port->Purge();
        m_clock.SleepFor(kPurgePause);
    }

    // One step: the bytes, then their acknowledgement. Nothing more is sent once the
    // update has been cancelled.
    const auto step = [&](std::span<const std::uint8_t> bytes) {
        if (m_bCancel) {
            return false;
        }
        if (!WriteSerialBytes(*port, bytes)) {
            TellPortLost();
            return false;
        }
        return WaitAck(*port);
    };
    if (!step(serial::kClear)) {
        return EndDownload(port, image, "NO Ack!", "UCLRU");
    }
    std::uint32_t done = 0;
    for (const std::uint32_t index : image.SendOrder()) {
        if (!step(serial::kFlash)) {
            return EndDownload(port, image, "NO Ack!", "UFLHU");
        }
        if (!step(serial::BlockFrame(image.GetBlock(index)))) {
            return EndDownload(port, image, "NO Ack 2!", "data");
        }
        if (index != 0) {
            SetProgress(static_cast<int>(image.ProgressAfter(index)));
        }
        ReportBlocks(++done, image);
    }
    if (m_bCancel) {
        return EndCancelled(port, image);
    }

    SetProgress(100);
    SetStatus(kDownloadFinished);
    m_clock.SleepFor(kRebootPause);
    WriteSerialBytes(*port, serial::kReboot);  // the loader does not answer the reboot
    image.Release();
    ClosePort(port);
    SetOutcome(UpdateOutcome::Succeeded);
    MessageBox(kDownloadFinished, "Update");
}

void CUpdaterDlg::EndDownload(const std::shared_ptr<SerialPort>& port, FirmwareImage& image,
                              const std::string& text, const std::string& caption) {
    if (m_bCancel) {
        return EndCancelled(port, image);
    }
    image.Release();
    ClosePort(port);
    SetOutcome(UpdateOutcome::Failed);
    MessageBox(text, caption);
}

void CUpdaterDlg::EndCancelled(const std::shared_ptr<SerialPort>& port, FirmwareImage& image) {
    image.Release();
    ClosePort(port);
    SetOutcome(UpdateOutcome::Cancelled);
    SetStatus(kStopped);
}

bool CUpdaterDlg::WaitAck(SerialPort& port) {
    const auto deadline = m_clock.Now() + kAckTimeout;
    std::array<std::uint8_t, 3> received{};
    std::size_t count = 0;
    for (;;) {
        if (m_bCancel) {
            return false;
        }
        if (m_clock.Now() > deadline) {
            MessageBox(kTimeoutFail, "Fail");
            return false;
        }
        const auto got = port.Read(std::span(received).subspan(count, 1));
        if (!got) {
            TellPortLost();
            return false;
        }
        count += *got;
        // The decision falls on the first three bytes received, whatever the clock says by then.
        if (count < received.size()) {
            continue;
        }
        if (received == serial::kAck) {
            return true;
        }
        char text[16];
        std::snprintf(text, sizeof text, "%c,%c,%c", received[0], received[1], received[2]);
        MessageBox(text);
        return false;
    }
}

}  // namespace tarvik
