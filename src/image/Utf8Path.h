#pragma once

#include <filesystem>
#include <string>

namespace tarvik {

// The tool's texts are UTF-8 on every system; a path made from a plain std::string is not
// (on Windows the standard library reads it in the C locale's code page, and only a path made
// from UTF-8 code units keeps every name). These convert between the two without loss.
inline std::filesystem::path PathFromUtf8(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string Utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace tarvik
