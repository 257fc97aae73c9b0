// Any bytes as the reply to a maintenance command (version text, query text, CR02 frame,
// undiscover acknowledgement): the command goes out as it should, the reply is judged by its
// first piece, and every box the operator sees is short and says what came.
#include <cstdio>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "app/UpdaterDlg.h"
#include "maint/MaintenanceFrames.h"
#include "maint/MaintenanceMessages.h"
#include "serial/SerialMessages.h"

using namespace tarvik;

namespace {

// At most 127 empty reads before the reply: about 1.3 s at this step, inside every time-out.
constexpr Clock::Duration kStep{10};
// The longest box: "Serial Port is unavaible!" and the reason, or a text reply.
constexpr std::size_t kLongestBox = 200;
constexpr const char* kDevice = "/dev/fuzz-com1";

struct Command {
    void (CUpdaterDlg::*handler)();
    std::string_view frame;
};
constexpr Command kCommands[] = {
    {&CUpdaterDlg::OnVersion, maint::kVersion},
    {&CUpdaterDlg::OnCmdQuery, maint::kQuery},
    {&CUpdaterDlg::OnCmdCr02, maint::kCr02},
    {&CUpdaterDlg::OnSetUndiscover, maint::kUndiscover},
};

std::string TextUpToNul(const std::vector<std::uint8_t>& bytes) {
    const std::string text(bytes.begin(), bytes.end());
    return text.substr(0, text.find('\0'));
}

}  // namespace

// The first byte picks the command (bits 0-1) and, with bit 7, has the opening refused with
// the errno in the second byte; a port script follows.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader input(data, size);
    const std::uint8_t choice = input.Byte();
    const Command& command = kCommands[choice % 4];
    const int openError = (choice & 0x80) != 0 ? std::max<int>(1, input.Byte()) : 0;
    const fuzz::PortScript script = fuzz::ReadPortScript(input);
    const auto port = std::make_shared<fuzz::ScriptedPort>(script);
    fuzz::ScriptedOpener opener(port, openError);
    PortNames names([](const std::string&) { return std::optional<std::string>(); });
    names.Override(1, kDevice);
    fuzz::BoxKeepingView view;
    fuzz::SteppingClock clock(kStep);
    CUpdaterDlg dlg(view, clock, "fuzz", {&opener, &names, nullptr});
    dlg.m_nPort = 1;

    (dlg.*command.handler)();

    for (const MessageBoxRequest& box : view.boxes) {
        fuzz::Check(box.text.size() <= kLongestBox, "a box longer than any it should show");
    }
    fuzz::Check(!dlg.Port(), "the port is still held after the command");
    fuzz::Check(opener.opens.size() == 1, "not one opening per command");
    fuzz::Check(opener.opens[0].device == kDevice, "opened another device than COM1's");
    fuzz::Check(opener.opens[0].baud == 9600, "a maintenance command not at 9600 baud");
    const bool succeeded = dlg.LastOutcome() == UpdateOutcome::Succeeded;
    if (openError != 0) {
        fuzz::Check(!succeeded && port->writes.empty() && port->reads == 0,
                    "a refused port was used");
        fuzz::Check(view.boxes.size() == 1 && view.boxes[0].text.starts_with(kPortUnavailable),
                    "a refused port not told as unavailable");
        return 0;
    }
    fuzz::Check(!port->IsOpen(), "the port was left open");
    const std::vector<std::vector<std::uint8_t>> frames = {
        {maint::kCommandLead}, {command.frame.begin(), command.frame.end()}};
    fuzz::Check(port->writes == frames, "the command went out wrong");
    fuzz::Check(view.boxes.size() <= 1, "more than one box for one reply");

    const std::vector<std::uint8_t>& piece = port->firstPiece;
    if (piece.empty()) {
        fuzz::Check(!succeeded && view.boxes.size() == 1, "silence not told");
        fuzz::Check(view.boxes[0].text == (script.failAtEnd ? kPortLost : kTimeoutFail),
                    "silence told wrong");
        return 0;
    }
    std::string expected;
    bool accepted = false;
    if (command.frame == maint::kVersion || command.frame == maint::kQuery) {
        fuzz::Check(piece.size() <= maint::kTextReplyMax, "a text reply read beyond its size");
        accepted = true;
        expected = TextUpToNul(piece);
    } else if (command.frame == maint::kCr02) {
        accepted = piece.size() == maint::kCr02ReplySize && piece[0] == maint::kCr02First &&
                   piece[15] == maint::kCr02Last;
        if (accepted) {
            char text[64];
            std::snprintf(text, sizeof text, kCr02Format, piece[1], piece[2], piece[3], piece[4],
                          piece[5]);
            expected = text;
        }
    } else {
        fuzz::Check(piece.size() == 1, "the undiscover reply read beyond one byte");
        accepted = piece[0] == maint::kUndiscoverAck;
        expected = kUndiscoverDone;
    }
    fuzz::Check(succeeded == accepted, "the reply judged wrong");
    if (accepted) {
        fuzz::Check(view.boxes.size() == 1 && view.boxes[0].text == expected,
                    "an accepted reply shown wrong");
    } else {
        fuzz::Check(view.boxes.empty(), "a box for a refused reply");
    }
    return 0;
}
