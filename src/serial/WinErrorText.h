#pragma once

#include <windows.h>

#include <string>

#include "serial/SerialPort.h"

namespace tarvik::win {

// The system's own words for an error code, in UTF-8, without the closing period and line
// break; "Windows error N" where it has none.
std::string SystemText(DWORD code);

// An open that failed with `code`, as the operator is told it.
SerialOpenResult OpenFailureOf(DWORD code);

}  // namespace tarvik::win
