#include "cli/PortEvents.h"

#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>

namespace tarvik::cli {
namespace {

using Json = nlohmann::json;

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

// The member `key` when it is a string, or nothing.
const std::string* Text(const Json& object, const char* key) {
    const auto member = object.find(key);
    return member != object.end() ? member->get_ptr<const std::string*>() : nullptr;
}

// The member `key` when it is a whole number from 0 to `limit`, or nothing.
std::optional<std::uint64_t> Count(const Json& object, const char* key, std::uint64_t limit) {
    const auto member = object.find(key);
    if (member == object.end() || !member->is_number_unsigned() ||
        member->get<std::uint64_t>() > limit) {
        return std::nullopt;
    }
    return member->get<std::uint64_t>();
}

// The block members of a progress event: all three, or none for a change of the percent
// alone. False when they are there but wrong.
bool ReadBlocks(const Json& object, PortEvent& event) {
    if (!object.contains("block") && !object.contains("blocks") && !object.contains("bytes")) {
        return true;
    }
    const auto blocks = Count(object, "blocks", UINT32_MAX);
    const auto block = Count(object, "block", blocks.value_or(0));
    const auto bytes = Count(object, "bytes", UINT64_MAX);
    if (!blocks || *blocks == 0 || !block || !bytes) {
        return false;
    }
    event.block = static_cast<std::uint32_t>(*block);
    event.blocks = static_cast<std::uint32_t>(*blocks);
    event.bytes = *bytes;
    return true;
}

}  // namespace

std::optional<PortEvent> ParsePortEvent(std::string_view line) {
    // No exceptions: a line that is not JSON (cut short, say) comes back discarded.
    const Json object = Json::parse(line, nullptr, false);
    const std::string* name = object.is_object() ? Text(object, "event") : nullptr;
    if (!name) {
        return std::nullopt;
    }
    PortEvent event;
    if (*name == "status") {
        const std::string* text = Text(object, "text");
        if (!text) {
            return std::nullopt;
        }
        event.kind = PortEvent::Kind::Status;
        event.text = *text;
    } else if (*name == "progress") {
        const auto percent = Count(object, "percent", 100);
        if (!percent || !ReadBlocks(object, event)) {
            return std::nullopt;
        }
        event.kind = PortEvent::Kind::Progress;
        event.percent = static_cast<int>(*percent);
    } else if (*name == "message") {
        const std::string* caption = Text(object, "caption");
        const std::string* text = Text(object, "text");
        const std::string* icon = Text(object, "icon");
        if (!caption || !text || !icon) {
            return std::nullopt;
        }
        event.kind = PortEvent::Kind::Message;
        event.caption = *caption;
        event.text = *text;
        event.failure = *icon != "none";
    } else if (*name == "result") {
        const std::string* result = Text(object, "result");
        const auto exitStatus = Count(object, "exit", 255);
        const auto seconds = object.find("seconds");
        const auto bytes = Count(object, "bytes", UINT64_MAX);
        if (!result || !ResultFromName(*result) || !exitStatus || seconds == object.end() ||
            !seconds->is_number() || !std::isfinite(seconds->get<double>()) || !bytes) {
            return std::nullopt;
        }
        event.kind = PortEvent::Kind::Result;
        event.result = *ResultFromName(*result);
        event.exitStatus = static_cast<int>(*exitStatus);
        event.seconds = seconds->get<double>();
        event.bytes = *bytes;
    } else {
        return std::nullopt;
    }
    return event;
}

void ApplyEvent(PortState& state, const PortEvent& event) {
    switch (event.kind) {
        case PortEvent::Kind::Status:
            state.status = event.text;
            break;
        case PortEvent::Kind::Progress:
            state.percent = event.percent;
            if (event.blocks > 0) {
                state.block = event.block;
                state.blocks = event.blocks;
                state.bytes = event.bytes;
            }
            break;
        case PortEvent::Kind::Message:
            state.messages.push_back({event.caption, event.text, event.failure});
            break;
        case PortEvent::Kind::Result:
            state.reported = event.result;
            state.reportedSeconds = event.seconds;
            state.bytes = event.bytes;
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
