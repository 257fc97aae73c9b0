#pragma once

#include <utility>

#include "clock/Clock.h"
#include "serial/SerialPort.h"
#include "sim/SerialLoaderSim.h"
// Windows has no pseudo-terminal; Linux builds the road tests a second time with this
// definition, so that the in-process loader meets the same table.
#if defined(_WIN32) || defined(TARVIK_IN_PROCESS_LOADER)
#define TARVIK_SERIAL_LOADER_IN_PROCESS 1
#include "sim/InProcessSerialLoader.h"
#else
#include "serial/PosixSerialPort.h"
#endif

namespace tarvik::test {

// The simulated serial loader a road test talks to, and the opener that reaches it: the loader
// behind a pseudo-terminal and the system's own ports, so that the tests run the real termios
// code; or the loader inside the process and its ports, which keep the same contract.
// Time-outs on the options' clock.
#ifdef TARVIK_SERIAL_LOADER_IN_PROCESS
class SimulatedSerialLoader : public sim::InProcessSerialLoader {
public:
    explicit SimulatedSerialLoader(sim::SerialLoaderOptions options,
                                   Clock::Duration writeStallLimit = kWriteStallLimit)
        : sim::InProcessSerialLoader(std::move(options), writeStallLimit) {}

    SerialPortOpener& Opener() { return *this; }
};
#else
class SimulatedSerialLoader : public sim::SerialLoaderSim {
public:
    explicit SimulatedSerialLoader(const sim::SerialLoaderOptions& options,
                                   Clock::Duration writeStallLimit = kWriteStallLimit)
        : sim::SerialLoaderSim(options), m_opener(*options.clock, writeStallLimit) {}

    SerialPortOpener& Opener() { return m_opener; }

private:
    PosixSerialPortOpener m_opener;
};
#endif

}  // namespace tarvik::test
