#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "clock/Clock.h"

namespace tarvik::sim {

// What the simulated loader does wrong at one acknowledged step.
enum class FaultKind {
    Silence,     // no answer at this step
    WrongReply,  // answers `bytes` instead of "U5U"
    StrayBytes,  // answers "U5U" followed by `bytes`
    LateAck,     // answers "U5U" after `delay` on the simulator's clock
    StallLine,   // holds the line (as XOFF or a stalled adapter would), then answers "U5U":
                 // the tool's next write takes no byte
};

struct Fault {
    FaultKind kind = FaultKind::Silence;
    std::vector<std::uint8_t> bytes;
    Clock::Duration delay{0};
};

struct SerialLoaderOptions {
    const Clock* clock = &RealClock();
    // False: a device that never answers the search byte.
    bool answerSearch = true;
    // True: every byte takes its wire time at the line's rate (10 bits a byte) before the
    // loader acts on it, and so does every byte it answers, as on a real line.
    bool paceAtBaud = false;
    // Faults by acknowledged step: 0 is "UCLRU", then 1 the first "UFLHU", 2 the first block
    // frame, 3 the second "UFLHU", and so on.
    std::map<int, Fault> faults{};
    // Answers to maintenance commands by their four characters, instead of the device's own;
    // an empty answer is none at all.
    std::map<std::string, std::vector<std::uint8_t>> maintenanceReplies{};
};

// A device's serial loader behind a pseudo-terminal. Of the bytes at 9600 baud the download
// takes only the wake byte; the loader answers the search byte at 115200 baud with 0x5A, then takes
// "UCLRU", "UFLHU" and block frames, acknowledging each with "U5U", and "URBTU". It checks every
// byte it receives (rate, order, pages, checksums, frame length) and keeps what was flashed.
// At 9600 baud it also takes the maintenance frames, answering the commands that have an
// answer, whatever state the download is in.
class SerialLoaderSim {
public:
    explicit SerialLoaderSim(SerialLoaderOptions options = {});
    ~SerialLoaderSim();  // stops its thread and closes the pseudo-terminal
    SerialLoaderSim(const SerialLoaderSim&) = delete;
    SerialLoaderSim& operator=(const SerialLoaderSim&) = delete;

    // The device path the tool opens.
    std::filesystem::path DevicePath() const;

    // What the loader saw, in order: "wake@9600", "search@115200", "UCLRU", "UFLHU",
    // "frame 0x0008", "URBTU", and for anything it did not expect, "unexpected 0xNN@baud".
    std::vector<std::string> Log() const;
    // Protocol violations: a wrong rate, a wrong checksum, a page out of order, a frame
    // where a command belonged, bytes after the reboot. Empty for a clean download.
    std::vector<std::string> Errors() const;
    // The pages flashed, in the order their frames were acknowledged.
    std::vector<std::uint16_t> Pages() const;
    // The flashed image: each acknowledged block at page × 256, zero elsewhere, up to the
    // end of the highest block.
    std::vector<std::uint8_t> Flashed() const;
    bool Rebooted() const;
    // The maintenance frames taken, in order: "command KE99", "cradle lead",
    // "cradle 0123456789AB", "raw lead", "raw hello", and "unexpected 0xNN" for a byte at
    // 9600 baud that fits no frame.
    std::vector<std::string> MaintenanceFrames() const;

    // Waits until Log() holds `entry`; false after `timeout` of real time.
    bool WaitForLog(const std::string& entry,
                    std::chrono::milliseconds timeout = std::chrono::seconds(60)) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace tarvik::sim
