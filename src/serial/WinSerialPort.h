#pragma once

#include "serial/SystemSerialPortOpener.h"

namespace tarvik {

// On Windows the system's serial ports are the Win32 comm devices.
using WinSerialPortOpener = SystemSerialPortOpener;

}  // namespace tarvik
