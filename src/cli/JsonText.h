#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarvik::cli {

// `text` as a JSON string, quotes included. Quote, backslash and control characters are
// escaped (\u00XX); a byte that is not part of valid UTF-8 becomes \ufffd, so whatever a
// device or a file name holds, the line stays valid JSON.
std::string JsonString(std::string_view text);

// The length of the valid UTF-8 sequence that starts `text`, or 0 when there is none (a stray
// continuation byte, an overlong form, a surrogate, beyond U+10FFFF, cut short).
std::size_t Utf8SequenceLength(std::string_view text);

// One JSON object, its members in the order they are added.
class JsonObject {
public:
    JsonObject& AddString(std::string_view key, std::string_view text);
    JsonObject& AddInt(std::string_view key, long long number);
    JsonObject& AddBool(std::string_view key, bool value);
    // A number with a fixed count of decimals ("seconds":12.34).
    JsonObject& AddFixed(std::string_view key, double number, int decimals);
    // A value that is already JSON (an array of objects).
    JsonObject& AddRaw(std::string_view key, std::string_view json);

    std::string Text() const { return m_text + "}"; }

private:
    void Key(std::string_view key);

    std::string m_text = "{";
};

}  // namespace tarvik::cli
