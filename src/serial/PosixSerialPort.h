#pragma once

#include "serial/SystemSerialPortOpener.h"

namespace tarvik {

// On POSIX the system's serial ports are termios terminals, pseudo-terminals included.
using PosixSerialPortOpener = SystemSerialPortOpener;

}  // namespace tarvik
