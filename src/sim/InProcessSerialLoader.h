#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "serial/SerialPort.h"
#include "sim/SerialLoaderSim.h"

namespace tarvik::sim {

// The device's serial loader of SerialLoaderSim, with the same checks, pacing, faults and
// record, on a line inside the process instead of a pseudo-terminal: where there is none
// (Windows), the tool opens its port here. Each byte the tool writes goes down the line at the
// rate its port was opened at. The ports keep the SerialPort contract: exclusive (a second
// Open of a held port fails with EBUSY), reads by the loader's time-out rules on the options'
// clock, Close and Abort wake a blocked read or write, and a held line takes no byte, so a
// write fails after `writeStallLimit`.
class InProcessSerialLoader : public SerialPortOpener {
public:
    explicit InProcessSerialLoader(SerialLoaderOptions options = {},
                                   Clock::Duration writeStallLimit = kWriteStallLimit);
    ~InProcessSerialLoader() override;  // stops the loader; its ports fail from then on
    InProcessSerialLoader(const InProcessSerialLoader&) = delete;
    InProcessSerialLoader& operator=(const InProcessSerialLoader&) = delete;

    // The name Open expects ("SIM-COM"); any other does not exist.
    std::filesystem::path DevicePath() const;
    SerialOpenResult Open(const std::filesystem::path& device, std::uint32_t baud) override;

    // As SerialLoaderSim's.
    std::vector<std::string> Log() const;
    std::vector<std::string> Errors() const;
    std::vector<std::uint16_t> Pages() const;
    std::vector<std::uint8_t> Flashed() const;
    bool Rebooted() const;
    std::vector<std::string> MaintenanceFrames() const;
    bool WaitForLog(const std::string& entry,
                    std::chrono::milliseconds timeout = std::chrono::seconds(60)) const;

private:
    struct Line;
    class Port;
    struct Impl;
    const Clock& m_clock;
    const Clock::Duration m_writeStallLimit;
    std::shared_ptr<Line> m_line;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace tarvik::sim
