#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "clock/Clock.h"
#include "serial/SerialFrames.h"
#include "sim/SerialLoaderSim.h"

namespace tarvik::sim {

// The serial loader's side of the wire, byte by byte: what it accepts in each state, what
// it logs and reports, what it keeps and what it answers.
class SerialLoaderProtocol {
public:
    // What the protocol does to the world around it, called in the order a device would do
    // it. The simulator gives it a pseudo-terminal, a clock and the record the tests read;
    // nothing here needs a thread or a descriptor.
    class Host {
    public:
        virtual ~Host() = default;

        // Returns once the message just completed has come down the wire.
        virtual void Settle() = 0;
        virtual void Log(std::string entry) = 0;
        virtual void Error(std::string text) = 0;
        // "UCLRU" taken: the flash is erased and a new download begins.
        virtual void Erase() = 0;
        // A block about to be acknowledged: it is kept before the answer goes out.
        virtual void Record(std::uint16_t page, std::span<const std::uint8_t> data) = 0;
        virtual void Reboot() = 0;
        // Waits `delay` on the loader's clock; false when the loader is being stopped meanwhile.
        virtual bool Wait(Clock::Duration delay) = 0;
        virtual void Send(std::span<const std::uint8_t> bytes) = 0;
        // Stops taking the tool's bytes from now on.
        virtual void HoldLine() {}
    };

    SerialLoaderProtocol(Host& host, bool answerSearch, std::map<int, Fault> faults);

    // Takes one byte that arrived at `baud`. True when the byte is held in a message that is
    // not complete yet, so that the caller can tell when the message went quiet.
    bool Take(std::uint8_t byte, std::uint32_t baud);
    bool Holding() const { return !m_message.empty(); }
    // Woken and not yet rebooted: the line is the download's.
    bool Downloading() const { return m_state != State::Asleep && m_state != State::Rebooted; }
    // The message held was left alone too long: it is reported and dropped.
    void CutShort();

private:
    enum class State {
        Asleep,        // not woken: only the wake byte at 9600 baud counts
        Searching,     // woken: answers the search byte, waits for "UCLRU"
        ExpectFlash,   // waits for "UFLHU" (or, wrongly, "URBTU")
        ExpectFrame,   // "UFLHU" acknowledged: a block frame follows
        ExpectReboot,  // page 0 flashed: only "URBTU" may come
        Rebooted,      // nothing may follow
    };

    void Wake();
    void Search();
    void OnCommand();
    void OnFrame();
    void Acknowledge(const std::function<void()>& onAck = {});
    std::string CutShortText() const;
    const serial::Command& ExpectedCommand() const;

    Host& m_host;
    const bool m_answerSearch;
    std::map<int, Fault> m_faults;  // a fault fires once, also across a second download
    State m_state = State::Asleep;
    int m_step = 0;
    std::uint32_t m_nextPage = kPagesPerBlock;
    std::vector<std::uint8_t> m_message;
    bool m_offRate = false;  // reported the current run of bytes at a wrong rate
    bool m_afterReboot = false;
};

}  // namespace tarvik::sim
