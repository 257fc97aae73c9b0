#pragma once

#include "serial/SerialPort.h"
#include "trace/WireTrace.h"

namespace tarvik {

// Opens ports through `inner` and writes every open, byte and close to `trace`. Both must
// outlive the ports it returns.
class TracingSerialPortOpener : public SerialPortOpener {
public:
    TracingSerialPortOpener(SerialPortOpener& inner, WireTrace& trace);

    SerialOpenResult Open(const std::filesystem::path& device, std::uint32_t baud) override;

private:
    SerialPortOpener& m_inner;
    WireTrace& m_trace;
};

}  // namespace tarvik
