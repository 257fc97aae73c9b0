#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik::cli {

// A parsed JSON value: what the parent reads back from the lines its children print.
struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string text;  // a string's value, UTF-8
    std::vector<JsonValue> items;
    std::vector<JsonValue> members;  // an object's, in the order written, each with its key
    std::string key;                 // the name of a member

    // The member `name` of an object, or nothing.
    const JsonValue* Find(std::string_view name) const;
    // The member `name` when it is a string (a number), or nothing.
    std::optional<std::string> String(std::string_view name) const;
    std::optional<double> Number(std::string_view name) const;
};

// `text` as exactly one JSON value (RFC 8259: no trailing commas, no comments, strings of
// valid UTF-8 without raw control characters), surrounding white space allowed; nothing
// when it is anything else.
std::optional<JsonValue> ParseJson(std::string_view text);

}  // namespace tarvik::cli
