#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace tarvik::sim {

// The device's side of the maintenance frames at 9600 baud: a command (lead, four
// characters) answered from a table, a cradle ID (lead, then 'B', twelve characters, 'T')
// and a raw text (lead, then 'D', the text, 'N', ended by a pause on the line). A lead waits
// for the rest of its frame across port openings; the wake byte drops whatever is held.
class MaintenanceProtocol {
public:
    class Host {
    public:
        virtual ~Host() = default;

        // Returns once the message just completed has come down the wire.
        virtual void Settle() = 0;
        // A frame taken, or a byte that fits none, as MaintenanceFrames() lists them.
        virtual void Frame(std::string entry) = 0;
        virtual void Error(std::string text) = 0;
        virtual void Send(std::span<const std::uint8_t> bytes) = 0;
    };

    // `replies` overrides the answer to a command's four characters; empty is no answer.
    MaintenanceProtocol(Host& host, std::map<std::string, std::vector<std::uint8_t>> replies);

    // Takes one byte that arrived at `baud`; false when it is none of this protocol's and
    // belongs to the firmware protocol. `downloading`: the loader is in a download, where
    // bytes at other rates are its own whatever they are.
    bool Take(std::uint8_t byte, std::uint32_t baud, bool downloading);
    // True while a frame's body is coming in, so the caller can tell when the line paused.
    bool Holding() const { return !m_body.empty(); }
    // The line paused: a raw text frame is complete, any other frame was cut short.
    void Pause();

private:
    bool TakeAtRate(std::uint8_t byte);
    void OnCommand();
    void OnCradle();
    void Drop();

    Host& m_host;
    const std::map<std::string, std::vector<std::uint8_t>> m_replies;
    std::uint8_t m_lead = 0;  // the lead of the frame held, 0 for none
    std::vector<std::uint8_t> m_body;
};

}  // namespace tarvik::sim
