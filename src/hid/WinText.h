#pragma once

#include <optional>
#include <string>
#include <string_view>

// Text crosses into Windows as UTF-16 and comes back as UTF-8: the program keeps UTF-8
// inside and converts at every W call.
namespace tarvik::win {

// Nothing when `utf8` is not valid UTF-8.
std::optional<std::wstring> Wide(std::string_view utf8);
// A lone surrogate, which no device path or name should hold, becomes U+FFFD.
std::string Utf8(std::wstring_view wide);

}  // namespace tarvik::win
