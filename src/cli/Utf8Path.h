#pragma once

#include <filesystem>
#include <string>

namespace tarvik::cli {

// The program's texts are UTF-8 on every system; a path made from a plain std::string is not
// (Windows reads it in the ANSI code page). These convert between the two without loss.
inline std::filesystem::path PathFromUtf8(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string Utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace tarvik::cli
