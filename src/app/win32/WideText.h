#pragma once

#include <string>
#include <string_view>

namespace tarvik::win32 {

// The window's texts cross into Windows as UTF-16. Unlike a device path, a text shown to the
// operator may hold anything a device sent: a byte that is no UTF-8 shows as U+FFFD rather
// than dropping the whole text. (The way back is win::Utf8.)
std::wstring WideText(std::string_view utf8);

}  // namespace tarvik::win32
