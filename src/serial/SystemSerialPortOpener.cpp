#include "serial/SystemSerialPortOpener.h"

#include "serial/SystemSerialPort.h"

namespace tarvik {

SystemSerialPortOpener::SystemSerialPortOpener(const Clock& clock, Clock::Duration writeStallLimit)
    : m_clock(clock), m_writeStallLimit(writeStallLimit) {}

std::unique_ptr<SerialPortOpener> MakeSystemSerialPortOpener(const Clock& clock) {
    return std::make_unique<SystemSerialPortOpener>(clock);
}

}  // namespace tarvik
