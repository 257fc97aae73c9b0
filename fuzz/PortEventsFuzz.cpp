// Any lines as a child's event stream and any wait status as its end: the parent keeps what
// the well-formed lines say, passes over the rest, and its failure line is one of the
// child's boxes, the signal, its exit status, or nothing for a success.
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "cli/PortEvents.h"

using namespace tarvik;
using namespace tarvik::cli;

namespace {

bool KnownResult(FlashResult result) {
    return result == FlashResult::Succeeded || result == FlashResult::Failed ||
           result == FlashResult::Interrupted;
}

void CheckEvent(const PortEvent& event, std::string_view line) {
    // Escapes only ever shorten a text.
    fuzz::Check(event.text.size() <= line.size() && event.caption.size() <= line.size(),
                "a text longer than its line");
    switch (event.kind) {
        case PortEvent::Kind::Progress:
            fuzz::Check(event.percent >= 0 && event.percent <= 100, "a percentage out of range");
            break;
        case PortEvent::Kind::Result:
            fuzz::Check(KnownResult(event.result), "an unknown result");
            fuzz::Check(event.exitStatus >= -255 && event.exitStatus <= 255,
                        "an exit status out of range");
            break;
        case PortEvent::Kind::Status:
        case PortEvent::Kind::Message:
            break;
    }
}

}  // namespace

// Two bytes of wait status, then the lines.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader input(data, size);
    const int waitStatus = input.Byte() | input.Byte() << 8;
    const auto rest = input.Rest();
    const std::string_view stream(reinterpret_cast<const char*>(rest.data()), rest.size());

    PortState state;
    state.port = "COM1";
    std::size_t longest = 0;
    for (std::size_t at = 0; at < stream.size();) {
        const std::size_t end = std::min(stream.find('\n', at), stream.size());
        const std::string_view line = stream.substr(at, end - at);
        at = end + 1;
        longest = std::max(longest, line.size());
        const auto event = ParsePortEvent(line);
        if (!event) {
            continue;
        }
        CheckEvent(*event, line);
        const std::size_t before = state.messages.size();
        ApplyEvent(state, *event);
        switch (event->kind) {
            case PortEvent::Kind::Status:
                fuzz::Check(state.status == event->text, "a status not kept");
                break;
            case PortEvent::Kind::Progress:
                fuzz::Check(state.percent == event->percent, "a percentage not kept");
                break;
            case PortEvent::Kind::Message:
                fuzz::Check(state.messages.size() == before + 1 &&
                                state.messages.back().text == event->text &&
                                state.messages.back().caption == event->caption,
                            "a box not kept");
                break;
            case PortEvent::Kind::Result:
                fuzz::Check(state.reported == event->result, "a result not kept");
                break;
        }
    }

    const ChildEnd end = ChildEndFromWaitStatus(waitStatus);
    ApplyEnd(state, end, 1.5);
    fuzz::Check(KnownResult(state.result), "an unknown end");
    const std::string failure = FirstFailure(state);
    fuzz::Check(failure.size() <= 2 * longest + 32, "a failure line longer than what it quotes");
    if (state.result == FlashResult::Succeeded ||
        (state.result == FlashResult::Interrupted && end.signal == 0)) {
        fuzz::Check(failure.empty(), "a failure line for a success or an interruption");
        return 0;
    }
    fuzz::Check(!failure.empty(), "no failure line for a failure");
    if (end.signal != 0) {
        fuzz::Check(failure == "killed by " + SignalName(end.signal), "a signal told wrong");
    } else if (!state.messages.empty()) {
        bool quoted = false;
        for (const PortMessage& message : state.messages) {
            quoted = quoted || failure == message.caption + ": " + message.text;
        }
        fuzz::Check(quoted, "a failure line that quotes no box");
    } else {
        fuzz::Check(failure == "exit status " + std::to_string(end.exitCode),
                    "an exit status told wrong");
    }
    return 0;
}
