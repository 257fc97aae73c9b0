// Any byte stream as the serial loader's answer to a frame: WaitAck accepts "U5U" in front and
// nothing else, takes no byte beyond the three it judges, and tells the operator why otherwise.
#include <algorithm>
#include <string>

#include "FuzzSupport.h"
#include "app/UpdaterDlg.h"
#include "serial/SerialFrames.h"
#include "serial/SerialMessages.h"

using namespace tarvik;

namespace {

// At most 127 empty reads before the answer: about 1.3 s at this step, well inside the 5 s.
constexpr Clock::Duration kStep{10};
constexpr Clock::Duration kAckTimeout{5000};

// The three bytes as the operator's box shows them ("%c,%c,%c", so a NUL ends the text).
std::string Shown(std::span<const std::uint8_t> three) {
    const std::string text{static_cast<char>(three[0]), ',', static_cast<char>(three[1]), ',',
                           static_cast<char>(three[2])};
    return text.substr(0, text.find('\0'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader input(data, size);
    const fuzz::PortScript script = fuzz::ReadPortScript(input);
    fuzz::ScriptedPort port(script);
    fuzz::BoxKeepingView view;
    fuzz::SteppingClock clock(kStep);
    CUpdaterDlg dlg(view, clock, "fuzz");

    const bool acked = dlg.WaitAck(port);

    const auto bytes = script.bytes;
    const bool ackInFront = bytes.size() >= serial::kAck.size() &&
                            std::equal(serial::kAck.begin(), serial::kAck.end(), bytes.begin());
    fuzz::Check(acked == ackInFront, "the decision is not \"U5U in front\"");
    fuzz::Check(port.delivered <= serial::kAck.size(), "read beyond the acknowledgement");
    if (acked) {
        fuzz::Check(view.boxes.empty(), "a box beside an acknowledgement");
        return 0;
    }
    fuzz::Check(view.boxes.size() == 1, "not exactly one box for a refusal");
    const std::string& text = view.boxes.front().text;
    if (bytes.size() >= serial::kAck.size()) {
        fuzz::Check(text == Shown(bytes.first(3)), "the box does not show the three bytes");
    } else if (script.failAtEnd) {
        fuzz::Check(text == kPortLost, "a failed port not told as such");
    } else {
        fuzz::Check(text == kTimeoutFail, "silence not told as a time-out");
        fuzz::Check(clock.Elapsed() >= kAckTimeout, "a time-out before 5 s");
    }
    return 0;
}
