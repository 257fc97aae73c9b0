// The maintenance commands for the device and its cradle: short frames at 9600 baud, some
// with a reply that is shown. Each opens the port, sends, and leaves it closed.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <vector>

#include "app/UpdaterDlg.h"
#include "maint/MaintenanceFrames.h"
#include "maint/MaintenanceMessages.h"

namespace tarvik {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::chrono::milliseconds kFramePause{1};

// How a command's reply is read and judged.
enum class Reply { None, Text, Undiscover, Cr02 };

struct ReplyRead {
    int count;
    std::uint32_t timeout;
};

ReplyRead ReadFor(Reply reply) {
    switch (reply) {
        case Reply::Text:
            return {static_cast<int>(maint::kTextReplyMax), 3000};
        case Reply::Undiscover:
            return {1, 2000};
        case Reply::Cr02:
            return {static_cast<int>(maint::kCr02ReplySize), 3000};
        case Reply::None:
            break;
    }
    return {0, 0};
}

Bytes Frame(std::uint8_t first, const std::string& text, std::uint8_t last) {
    Bytes frame(text.size() + 2);
    frame.front() = first;
    std::copy(text.begin(), text.end(), frame.begin() + 1);
    frame.back() = last;
    return frame;
}

}  // namespace

bool CUpdaterDlg::RefusedDuringUpdate() {
    if (!UpdateRunning()) {
        m_bCancel = false;  // a cancel of an earlier update is not this command's
        return false;
    }
    MessageBox(kRefusedDuringUpdate);
    SetOutcome(UpdateOutcome::Failed);
    return true;
}

void CUpdaterDlg::SetBaudIndex(int index) {
    std::lock_guard lock(m_dataLock);
    m_nBaud = index;
}

void CUpdaterDlg::SendCommandFrame(std::string_view command, int replyKind) {
    const auto reply = static_cast<Reply>(replyKind);
    if (RefusedDuringUpdate()) {
        return;
    }
    SetOutcome(UpdateOutcome::Failed);
    SetBaudIndex(maint::kBaudIndex);
    if (!OpenSerialPort()) {
        SetBaudIndex(0);
        return;
    }
    const auto port = Port();
    const std::uint8_t lead = maint::kCommandLead;
    // A line that takes no byte fails the command here; what it would have answered is
    // not waited for.
    bool sent = port && WriteOrTell(*port, std::span(&lead, 1));
    if (sent && reply != Reply::None) {
        m_clock.SleepFor(kFramePause);
    }
    sent =
        sent && WriteOrTell(*port, std::span(reinterpret_cast<const std::uint8_t*>(command.data()),
                                             command.size()));
    bool accepted = reply == Reply::None;
    if (sent && reply != Reply::None) {
        const ReplyRead read = ReadFor(reply);
        std::vector<char> buffer(static_cast<std::size_t>(read.count) + 1, 0);
        const int got = ReadSerial(buffer.data(), read.count, read.timeout);
        const auto byte = [&](int i) { return static_cast<std::uint8_t>(buffer[i]); };
        if (got > 0 && reply == Reply::Text) {
            accepted = true;
            MessageBox(buffer.data());  // the text up to its first NUL
        } else if (got > 0 && reply == Reply::Undiscover && byte(0) == maint::kUndiscoverAck) {
            accepted = true;
            MessageBox(kUndiscoverDone);
        } else if (got == static_cast<int>(maint::kCr02ReplySize) && reply == Reply::Cr02 &&
                   byte(0) == maint::kCr02First && byte(15) == maint::kCr02Last) {
            accepted = true;
            char text[64];
            std::snprintf(text, sizeof text, kCr02Format, byte(1), byte(2), byte(3), byte(4),
                          byte(5));
            MessageBox(text);
        }
    }
    ClosePort(port);
    SetBaudIndex(0);
    SetOutcome(sent && accepted ? UpdateOutcome::Succeeded : UpdateOutcome::Failed);
}

void CUpdaterDlg::OnCmdKe99() {
    SendCommandFrame(maint::kKe99, static_cast<int>(Reply::None));
}
void CUpdaterDlg::OnCmdKe01() {
    SendCommandFrame(maint::kKe01, static_cast<int>(Reply::None));
}
void CUpdaterDlg::OnCmdKe97() {
    SendCommandFrame(maint::kKe97, static_cast<int>(Reply::None));
}
void CUpdaterDlg::OnCmdDash02() {
    SendCommandFrame(maint::kDash02, static_cast<int>(Reply::None));
}
void CUpdaterDlg::OnReset() {
    SendCommandFrame(maint::kReset, static_cast<int>(Reply::None));
}
void CUpdaterDlg::OnVersion() {
    SendCommandFrame(maint::kVersion, static_cast<int>(Reply::Text));
}
void CUpdaterDlg::OnCmdQuery() {
    SendCommandFrame(maint::kQuery, static_cast<int>(Reply::Text));
}
void CUpdaterDlg::OnSetUndiscover() {
    SendCommandFrame(maint::kUndiscover, static_cast<int>(Reply::Undiscover));
}
void CUpdaterDlg::OnCmdCr02() {
    SendCommandFrame(maint::kCr02, static_cast<int>(Reply::Cr02));
}

void CUpdaterDlg::SendTypedCommand(const std::string UpdaterState::*member) {
    UpdateData(true);
    std::string command;
    {
        std::lock_guard lock(m_dataLock);
        command = this->*member;
    }
    if (command.size() != maint::kCommandSize) {
        MessageBox(kCommandLengthError);
        SetOutcome(UpdateOutcome::Failed);
        return;
    }
    SendCommandFrame(command, static_cast<int>(Reply::None));
}

void CUpdaterDlg::OnCmdText() {
    SendTypedCommand(&UpdaterState::m_strCmd4);
}
void CUpdaterDlg::OnSendCommand() {
    SendTypedCommand(&UpdaterState::m_strCommand);
}

bool CUpdaterDlg::SendTwoFrames(std::uint8_t lead, const std::vector<std::uint8_t>& frame) {
    if (RefusedDuringUpdate()) {
        return false;
    }
    SetBaudIndex(maint::kBaudIndex);
    // A failed opening sends nothing for its frame; the second one is tried all the same.
    bool sent = WriteSerialOnce(std::span(&lead, 1));
    m_clock.SleepFor(kFramePause);
    sent = WriteSerialOnce(frame) && sent;
    SetBaudIndex(0);
    SetOutcome(sent ? UpdateOutcome::Succeeded : UpdateOutcome::Failed);
    return sent;
}

void CUpdaterDlg::OnSetCradleId() {
    UpdateData(true);
    std::string id;
    {
        std::lock_guard lock(m_dataLock);
        if (m_strCradleId.size() == maint::kCradleIdSize) {
            std::transform(m_strCradleId.begin(), m_strCradleId.end(), m_strCradleId.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        }
        id = m_strCradleId;
    }
    if (id.size() != maint::kCradleIdSize) {
        MessageBox(kCradleIdLength);
        SetOutcome(UpdateOutcome::Failed);
        return;
    }
    UpdateData(false);
    SendTwoFrames(maint::kCradleLead, Frame(maint::kCradleStart, id, maint::kCradleEnd));
}

void CUpdaterDlg::OnCmdRaw() {
    UpdateData(true);
    std::string text;
    {
        std::lock_guard lock(m_dataLock);
        text = m_strRawCmd;
    }
    if (text.size() > maint::kRawTextMax) {
        MessageBox(kRawTextTooLong);
        SetOutcome(UpdateOutcome::Failed);
        return;
    }
    SendTwoFrames(maint::kRawLead, Frame(maint::kRawStart, text, maint::kRawEnd));
}

}  // namespace tarvik
