#pragma once

#include <windows.h>

namespace tarvik::win32 {

// The About box (template 100), modal over `owner`: icon, version line and OK.
void ShowAboutBox(HINSTANCE instance, HWND owner);

}  // namespace tarvik::win32
