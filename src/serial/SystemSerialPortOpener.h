#pragma once

#include "clock/Clock.h"
#include "serial/SerialPort.h"

namespace tarvik {

// Opens the real serial ports of the system the program was built for, by device path and
// exactly as given: termios terminals (pseudo-terminals too) on POSIX; on Windows the Win32
// comm devices, by name ("COM3") or by device path ("\\.\COM12"). Every time-out of the ports
// it returns is measured on `clock`, which must outlive them.
class SystemSerialPortOpener : public SerialPortOpener {
public:
    explicit SystemSerialPortOpener(const Clock& clock,
                                    Clock::Duration writeStallLimit = kWriteStallLimit);

    SerialOpenResult Open(const std::filesystem::path& device, std::uint32_t baud) override;

private:
    const Clock& m_clock;
    const Clock::Duration m_writeStallLimit;
};

}  // namespace tarvik
