#pragma once

#include <memory>

#include "clock/Clock.h"
#include "serial/SerialPort.h"

namespace tarvik {

// The real serial ports of the system the program was built for: termios on POSIX, the
// comm calls on Windows. Every time-out is measured on `clock`, which must outlive them.
std::unique_ptr<SerialPortOpener> MakeSystemSerialPortOpener(const Clock& clock);

}  // namespace tarvik
