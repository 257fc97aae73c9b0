#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/ChildEnd.h"
#include "cli/CliView.h"

namespace tarvik::cli {

// One line a child printed with --json, read back; see JsonView for the objects.
struct PortEvent {
    enum class Kind { Status, Progress, Message, Result };
    Kind kind = Kind::Status;
    std::string text;  // the status text, or the message's text
    std::string caption;
    bool failure = false;
    int percent = 0;
    // A progress event of an acknowledged block (blocks is 0 for the percent alone), and the
    // image bytes acknowledged so far; a result event's bytes are those of the whole run.
    std::uint32_t block = 0;
    std::uint32_t blocks = 0;
    std::uint64_t bytes = 0;
    FlashResult result = FlashResult::Failed;
    int exitStatus = 0;
    double seconds = 0;
};

// Nothing for a line that is not one of those objects (a line cut short by a crash, say).
std::optional<PortEvent> ParsePortEvent(std::string_view line);

struct PortMessage {
    std::string caption;
    std::string text;
    bool failure = false;
};

// What the child of one port has told so far, and how it ended.
struct PortState {
    std::string port;  // as given on the command line
    long pid = 0;
    std::string status;
    int percent = -1;
    std::uint32_t block = 0;  // of `blocks` acknowledged, carrying `bytes`
    std::uint32_t blocks = 0;
    std::uint64_t bytes = 0;
    std::vector<PortMessage> messages;
    std::optional<FlashResult> reported;  // from its result event
    double reportedSeconds = 0;
    std::string errText;  // its standard error, as much as is kept
    bool ended = false;
    FlashResult result = FlashResult::Failed;
    int exitStatus = 0;  // 128 + the signal when a signal ended it
    int signal = 0;
    double seconds = 0;
};

void ApplyEvent(PortState& state, const PortEvent& event);
// The child is gone after `seconds`. The exit status decides the result (a crash after a
// "succeeded" line is still a failure); the child's own time is kept when it gave one.
void ApplyEnd(PortState& state, ChildEnd end, double seconds);

// What the summary shows for a port that did not succeed: the signal that ended it, else
// the first box with a failure icon, else the first box, else the first line of its error
// stream; as "<caption>: <text>". Empty for a port that succeeded or was only interrupted.
std::string FirstFailure(const PortState& state);

}  // namespace tarvik::cli
