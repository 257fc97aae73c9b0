#include "cli/JsonText.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace tarvik::cli {

std::size_t Utf8SequenceLength(std::string_view text) {
    if (text.empty()) {
        return 0;
    }
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(0);
    std::size_t length = 0;
    std::uint8_t low = 0x80;  // the second byte's range, narrowed where forms are excluded
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

std::string JsonString(std::string_view text) {
    std::string json = "\"";
    json.reserve(text.size() + 2);
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += static_cast<char>(c);
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            json += escaped;
            ++i;
        } else if (c < 0x80) {
            json += static_cast<char>(c);
            ++i;
        } else if (const std::size_t length = Utf8SequenceLength(text.substr(i))) {
            json.append(text.substr(i, length));
            i += length;
        } else {
            json += "\\ufffd";
            ++i;
        }
    }
    json += '"';
    return json;
}

void JsonObject::Key(std::string_view key) {
    if (m_text.size() > 1) {
        m_text += ',';
    }
    m_text += JsonString(key);
    m_text += ':';
}

JsonObject& JsonObject::AddString(std::string_view key, std::string_view text) {
    Key(key);
    m_text += JsonString(text);
    return *this;
}

JsonObject& JsonObject::AddInt(std::string_view key, long long number) {
    Key(key);
    m_text += std::to_string(number);
    return *this;
}

JsonObject& JsonObject::AddBool(std::string_view key, bool value) {
    Key(key);
    m_text += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::AddFixed(std::string_view key, double number, int decimals) {
    Key(key);
    if (!std::isfinite(number)) {
        number = 0;  // JSON has no infinity; a time is never one anyway
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, number);
    m_text += text;
    return *this;
}

JsonObject& JsonObject::AddRaw(std::string_view key, std::string_view json) {
    Key(key);
    m_text.append(json);
    return *this;
}

}  // namespace tarvik::cli
