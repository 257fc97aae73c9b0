#pragma once

#include "clock/Clock.h"
#include "serial/SerialPort.h"

namespace tarvik {

// Opens real serial ports through the Win32 comm calls, by name ("COM3") or by device path
// ("\\.\COM12"), exactly as given. Every time-out of the ports it returns is measured on
// `clock`, which must outlive them.
class WinSerialPortOpener : public SerialPortOpener {
public:
    explicit WinSerialPortOpener(const Clock& clock,
                                 Clock::Duration writeStallLimit = kWriteStallLimit);

    SerialOpenResult Open(const std::filesystem::path& device, std::uint32_t baud) override;

private:
    const Clock& m_clock;
    const Clock::Duration m_writeStallLimit;
};

}  // namespace tarvik
