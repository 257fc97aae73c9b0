#pragma once

#include <filesystem>
#include <memory>

#include "serial/SerialPort.h"
#include "sim/SerialLoaderSim.h"

namespace tarvik::cli {

// The simulated serial loader that --simulate and --demo put behind a COMn, served the way
// this system can: on POSIX on a pseudo-terminal, reached through the system's own serial
// ports like a real device; on Windows, which has no pseudo-terminals, inside the process,
// where the loader is its own port opener.
class SimulatedSerialLoader {
public:
    virtual ~SimulatedSerialLoader() = default;

    // What the COMn resolves to while the loader runs.
    virtual std::filesystem::path DevicePath() const = 0;

    // The opener that reaches the loader, given the system's own.
    virtual SerialPortOpener& Opener(SerialPortOpener& system) = 0;
};

std::unique_ptr<SimulatedSerialLoader> MakeSimulatedSerialLoader(sim::SerialLoaderOptions options);

}  // namespace tarvik::cli
