#include "cli/JsonValue.h"

#include "cli/JsonText.h"

#include <charconv>
#include <cstdint>
#include <cstdlib>

namespace tarvik::cli {
namespace {

constexpr int kMaxDepth = 64;

class Parser {
public:
    explicit Parser(std::string_view text) : m_text(text) {}

    std::optional<JsonValue> Document() {
        JsonValue value;
        SkipSpace();
        if (!Value(value, 0)) {
            return std::nullopt;
        }
        SkipSpace();
        if (m_at != m_text.size()) {
            return std::nullopt;
        }
        return value;
    }

private:
    bool AtEnd() const { return m_at >= m_text.size(); }
    char Peek() const { return AtEnd() ? '\0' : m_text[m_at]; }

    void SkipSpace() {
        while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) {
            ++m_at;
        }
    }

    bool Literal(std::string_view word) {
        if (m_text.substr(m_at, word.size()) != word) {
            return false;
        }
        m_at += word.size();
        return true;
    }

    bool Value(JsonValue& value, int depth) {
        if (depth > kMaxDepth) {
            return false;
        }
        switch (Peek()) {
            case '{':
                value.kind = JsonValue::Kind::Object;
                return Object(value, depth);
            case '[':
                value.kind = JsonValue::Kind::Array;
                return Array(value, depth);
            case '"':
                value.kind = JsonValue::Kind::String;
                return String(value.text);
            case 't':
                value.kind = JsonValue::Kind::Bool;
                value.boolean = true;
                return Literal("true");
            case 'f':
                value.kind = JsonValue::Kind::Bool;
                return Literal("false");
            case 'n':
                return Literal("null");
            default:
                value.kind = JsonValue::Kind::Number;
                return Number(value.number);
        }
    }

    bool Object(JsonValue& value, int depth) {
        ++m_at;
        SkipSpace();
        if (Peek() == '}') {
            ++m_at;
            return true;
        }
        for (;;) {
            JsonValue member;
            SkipSpace();
            if (Peek() != '"' || !String(member.key)) {
                return false;
            }
            SkipSpace();
            if (Peek() != ':') {
                return false;
            }
            ++m_at;
            SkipSpace();
            if (!Value(member, depth + 1)) {
                return false;
            }
            value.members.push_back(std::move(member));
            SkipSpace();
            if (Peek() == '}') {
                ++m_at;
                return true;
            }
            if (Peek() != ',') {
                return false;
            }
            ++m_at;
        }
    }

    bool Array(JsonValue& value, int depth) {
        ++m_at;
        SkipSpace();
        if (Peek() == ']') {
            ++m_at;
            return true;
        }
        for (;;) {
            JsonValue item;
            SkipSpace();
            if (!Value(item, depth + 1)) {
                return false;
            }
            value.items.push_back(std::move(item));
            SkipSpace();
            if (Peek() == ']') {
                ++m_at;
                return true;
            }
            if (Peek() != ',') {
                return false;
            }
            ++m_at;
        }
    }

    bool Number(double& number) {
        const std::size_t start = m_at;
        const auto digits = [&] {
            const std::size_t first = m_at;
            while (Peek() >= '0' && Peek() <= '9') {
                ++m_at;
            }
            return m_at > first;
        };
        if (Peek() == '-') {
            ++m_at;
        }
        if (Peek() == '0') {
            ++m_at;
        } else if (!digits()) {
            return false;
        }
        if (Peek() == '.') {
            ++m_at;
            if (!digits()) {
                return false;
            }
        }
        if (Peek() == 'e' || Peek() == 'E') {
            ++m_at;
            if (Peek() == '+' || Peek() == '-') {
                ++m_at;
            }
            if (!digits()) {
                return false;
            }
        }
        // strtod reads the C locale's numbers, which is what JSON's are.
        const std::string text(m_text.substr(start, m_at - start));
        number = std::strtod(text.c_str(), nullptr);
        return true;
    }

    bool Hex4(std::uint32_t& code) {
        if (m_text.size() - m_at < 4) {
            return false;
        }
        const char* first = m_text.data() + m_at;
        const auto [end, error] = std::from_chars(first, first + 4, code, 16);
        if (error != std::errc() || end != first + 4) {
            return false;
        }
        m_at += 4;
        return true;
    }

    static void AppendUtf8(std::string& out, std::uint32_t code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    bool Escape(std::string& out) {
        const char c = Peek();
        ++m_at;
        switch (c) {
            case '"':
            case '\\':
            case '/':
                out += c;
                return true;
            case 'b':
                out += '\b';
                return true;
            case 'f':
                out += '\f';
                return true;
            case 'n':
                out += '\n';
                return true;
            case 'r':
                out += '\r';
                return true;
            case 't':
                out += '\t';
                return true;
            case 'u':
                break;
            default:
                return false;
        }
        std::uint32_t code = 0;
        if (!Hex4(code)) {
            return false;
        }
        if (code >= 0xDC00 && code <= 0xDFFF) {
            return false;  // a low surrogate with no high one before it
        }
        if (code >= 0xD800 && code <= 0xDBFF) {
            std::uint32_t low = 0;
            if (!Literal("\\u") || !Hex4(low) || low < 0xDC00 || low > 0xDFFF) {
                return false;
            }
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        AppendUtf8(out, code);
        return true;
    }

    // One UTF-8 character of a string, checked as strictly as the writer checks it.
    bool Utf8(std::string& out) {
        const std::size_t length = Utf8SequenceLength(m_text.substr(m_at));
        if (length == 0) {
            return false;
        }
        out.append(m_text.substr(m_at, length));
        m_at += length;
        return true;
    }

    bool String(std::string& out) {
        ++m_at;  // the opening quote
        for (;;) {
            if (AtEnd()) {
                return false;
            }
            const auto c = static_cast<unsigned char>(Peek());
            if (c == '"') {
                ++m_at;
                return true;
            }
            if (c < 0x20) {
                return false;
            }
            if (c == '\\') {
                ++m_at;
                if (!Escape(out)) {
                    return false;
                }
            } else if (c < 0x80) {
                out += static_cast<char>(c);
                ++m_at;
            } else if (!Utf8(out)) {
                return false;
            }
        }
    }

    std::string_view m_text;
    std::size_t m_at = 0;
};

}  // namespace

const JsonValue* JsonValue::Find(std::string_view name) const {
    for (const JsonValue& member : members) {
        if (member.key == name) {
            return &member;
        }
    }
    return nullptr;
}

std::optional<std::string> JsonValue::String(std::string_view name) const {
    const JsonValue* value = Find(name);
    if (!value || value->kind != Kind::String) {
        return std::nullopt;
    }
    return value->text;
}

std::optional<double> JsonValue::Number(std::string_view name) const {
    const JsonValue* value = Find(name);
    if (!value || value->kind != Kind::Number) {
        return std::nullopt;
    }
    return value->number;
}

std::optional<JsonValue> ParseJson(std::string_view text) {
    return Parser(text).Document();
}

}  // namespace tarvik::cli
