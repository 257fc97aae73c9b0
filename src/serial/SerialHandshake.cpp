// The serial branch of Run: wake the loader at 9600 baud, then search for it at 115200 baud
// on two workers until it answers, and hand over to the download.
#include "app/UpdaterDlg.h"
#include "serial/SerialFrames.h"
#include "serial/SerialMessages.h"

namespace tarvik {
namespace {

constexpr std::chrono::milliseconds kWakeGap{10};
constexpr std::chrono::milliseconds kReopenPause{100};
constexpr std::chrono::milliseconds kSearchPause{150};
constexpr std::chrono::milliseconds kEmptyReadPause{50};
constexpr std::chrono::milliseconds kFoundPause{300};
constexpr std::size_t kSearchReadSize = 65;

}  // namespace

void CUpdaterDlg::RunSerial() {
    SetBaudIndex(serial::kWakeBaudIndex);
    if (!OpenSerialPort()) {
        SetBaudIndex(0);
        return;
    }
    const std::uint8_t wake = serial::kWakeByte;
    bool woken = false;
    if (const auto port = Port()) {
        woken = WriteOrTell(*port, std::span(&wake, 1));
        m_clock.SleepFor(kWakeGap);
        woken = woken && WriteOrTell(*port, std::span(&wake, 1));
    }
    SetBaudIndex(serial::kDownloadBaudIndex);
    ClosePort();
    if (!woken || m_bCancel) {
        // A line that takes no byte has no loader to search for; a cancel sends nothing more.
        SetOutcome(m_bCancel ? UpdateOutcome::Cancelled : UpdateOutcome::Failed);
        return;
    }
    m_clock.SleepFor(kReopenPause);

    if (!OpenSerialPort()) {
        return;
    }
    if (m_bIdle == 0) {
        return;  // a search already runs
    }
    EnableRunButton(false);
    m_bIdle = 0;
    if (m_bCancel) {
        // Cancelled while the port reopened: the workers start and end at once, so that
        // the update ends through its one way out.
        m_bIdle = 1;
    }
    if (!StartWorker(m_sendThread, &CUpdaterDlg::SendThreadProc)) {
        ClosePort();
        MessageBox(kSendThreadFail);
        m_bIdle = 1;
        EnableRunButton(true);
        return;
    }
    if (!StartWorker(m_receiveThread, &CUpdaterDlg::ReceiveThreadProc)) {
        m_bIdle = 1;
        m_sendThread.join();  // the port is closed only once the search no longer uses it
        ClosePort();
        MessageBox(kReceiveThreadFail);
        EnableRunButton(true);
    }
}

void CUpdaterDlg::SendThreadProc() {
    const std::uint8_t search = serial::kSearchByte;
    for (auto port = Port(); m_bIdle == 0 && port; port = Port()) {
        SetProgress(0);
        SetStatus(kSearching);
        WriteSerialBytes(*port, std::span(&search, 1));
        m_clock.SleepFor(kSearchPause);
    }
}

void CUpdaterDlg::ReceiveThreadProc() {
    bool found = false;
    std::array<std::uint8_t, kSearchReadSize + 1> buffer{};
    for (auto port = Port(); m_bIdle == 0 && port; port = Port()) {
        const auto got = port->Read(std::span(buffer).first(kSearchReadSize));
        if (!got || *got == 0) {
            m_clock.SleepFor(kEmptyReadPause);
            continue;
        }
        buffer[*got] = 0;
        if (buffer[0] == serial::kFoundByte) {
            SetStatus(kDeviceFound);
            found = true;
            m_bIdle = 1;
        }
    }
    if (found) {
        m_clock.SleepFor(kFoundPause);
    }
    // Stop, closing and Ctrl+C end the search without a download; the port is let go here
    // if nobody closed it yet.
    if (found && !m_bCancel && Port()) {
        SerialDownload();
    } else {
        ClosePort();
        SetOutcome(UpdateOutcome::Cancelled);
    }
    EnableRunButton(true);
}

}  // namespace tarvik
