#include "cli/PortEvents.h"

#include <signal.h>
#include <string.h>
#include <sys/wait.h>

#include <cmath>

#include "cli/JsonValue.h"

namespace tarvik::cli {
namespace {

constexpr int kExitInterrupted = 130;

std::optional<FlashResult> ResultFromName(const std::string& name) {
    for (const FlashResult result :
         {FlashResult::Succeeded, FlashResult::Failed, FlashResult::Interrupted}) {
        if (name == ResultName(result)) {
            return result;
        }
    }
    return std::nullopt;
}

// A whole number within `limit`, or nothing.
std::optional<int> WholeNumber(const JsonValue& object, std::string_view key, int limit) {
    const auto number = object.Number(key);
    if (!number || *number != std::floor(*number) || std::fabs(*number) > limit) {
        return std::nullopt;
    }
    return static_cast<int>(*number);
}

}  // namespace

std::optional<PortEvent> ParsePortEvent(std::string_view line) {
    const auto object = ParseJson(line);
    if (!object || object->kind != JsonValue::Kind::Object) {
        return std::nullopt;
    }
    const auto name = object->String("event");
    if (!name) {
        return std::nullopt;
    }
    PortEvent event;
    if (*name == "status") {
        const auto text = object->String("text");
        if (!text) {
            return std::nullopt;
        }
        event.kind = PortEvent::Kind::Status;
        event.text = *text;
    } else if (*name == "progress") {
        const auto percent = WholeNumber(*object, "percent", 100);
        if (!percent || *percent < 0) {
            return std::nullopt;
        }
        event.kind = PortEvent::Kind::Progress;
        event.percent = *percent;
    } else if (*name == "message") {
        const auto caption = object->String("caption");
        const auto text = object->String("text");
        const auto icon = object->String("icon");
        if (!caption || !text || !icon) {
            return std::nullopt;
        }
        event.kind = PortEvent::Kind::Message;
        event.caption = *caption;
        event.text = *text;
        event.failure = *icon != "none";
    } else if (*name == "result") {
        const auto result = object->String("result");
        const auto exitStatus = WholeNumber(*object, "exit", 255);
        const auto seconds = object->Number("seconds");
        if (!result || !ResultFromName(*result) || !exitStatus || !seconds) {
            return std::nullopt;
        }
        event.kind = PortEvent::Kind::Result;
        event.result = *ResultFromName(*result);
        event.exitStatus = *exitStatus;
        event.seconds = *seconds;
    } else {
        return std::nullopt;
    }
    return event;
}

ChildEnd ChildEndFromWaitStatus(int waitStatus) {
    if (WIFSIGNALED(waitStatus)) {
        return {128 + WTERMSIG(waitStatus), WTERMSIG(waitStatus)};
    }
    return {WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 1, 0};
}

std::string SignalName(int signal) {
    if (const char* name = sigabbrev_np(signal)) {
        return std::string("SIG") + name;
    }
    return "signal " + std::to_string(signal);
}

void ApplyEvent(PortState& state, const PortEvent& event) {
    switch (event.kind) {
        case PortEvent::Kind::Status:
            state.status = event.text;
            break;
        case PortEvent::Kind::Progress:
            state.percent = event.percent;
            break;
        case PortEvent::Kind::Message:
            state.messages.push_back({event.caption, event.text, event.failure});
            break;
        case PortEvent::Kind::Result:
            state.reported = event.result;
            state.reportedSeconds = event.seconds;
            break;
    }
}

void ApplyEnd(PortState& state, ChildEnd end, double seconds) {
    state.ended = true;
    state.signal = end.signal;
    state.exitStatus = end.exitCode;
    state.result = end.signal != 0                    ? FlashResult::Failed
                   : end.exitCode == 0                ? FlashResult::Succeeded
                   : end.exitCode == kExitInterrupted ? FlashResult::Interrupted
                                                      : FlashResult::Failed;
    state.seconds = state.reported ? state.reportedSeconds : seconds;
}

std::string FirstFailure(const PortState& state) {
    if (!state.ended || state.result == FlashResult::Succeeded) {
        return {};
    }
    if (state.signal != 0) {
        return "killed by " + SignalName(state.signal);
    }
    if (state.result == FlashResult::Interrupted) {
        return {};
    }
    const PortMessage* chosen = nullptr;
    for (const PortMessage& message : state.messages) {
        if (message.failure) {
            chosen = &message;
            break;
        }
    }
    if (!chosen && !state.messages.empty()) {
        chosen = &state.messages.front();
    }
    if (chosen) {
        return chosen->caption + ": " + chosen->text;
    }
    const std::string firstLine = state.errText.substr(0, state.errText.find('\n'));
    if (!firstLine.empty()) {
        return firstLine;
    }
    return "exit status " + std::to_string(state.exitStatus);
}

}  // namespace tarvik::cli
