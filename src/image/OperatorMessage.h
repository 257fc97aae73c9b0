#pragma once

#include <optional>
#include <string>

namespace tarvik {

// Which of the two modal boxes carries a message: the window's own box (caption given,
// or the application title) or the application box (application title, exclamation icon).
enum class MessageKind { Window, Application };

// A message for the operator, returned as a value by layers that never show anything.
struct OperatorMessage {
    MessageKind kind = MessageKind::Window;
    std::string text;
    std::optional<std::string> caption;  // none: the application title

    bool operator==(const OperatorMessage&) const = default;
};

inline OperatorMessage WindowMessage(std::string text, std::optional<std::string> caption = {}) {
    return {MessageKind::Window, std::move(text), std::move(caption)};
}

inline OperatorMessage ApplicationMessage(std::string text) {
    return {MessageKind::Application, std::move(text), std::nullopt};
}

}  // namespace tarvik
