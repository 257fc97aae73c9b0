#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace tarvik {

// Every byte on the wire, for the person whose device misbehaves:
//   <milliseconds since start> tx|rx <hex bytes>
//   <milliseconds since start> open <device> <baud>   /   close <device>
// Byte lines join a burst up to 32 bytes; a HID report is one line of its own, whole.
// Thread-safe; lines are written whole and flushed.
class WireTrace {
public:
    // Appends to `file`; false from IsOpen() when it cannot be created.
    explicit WireTrace(const std::string& file);
    ~WireTrace();
    WireTrace(const WireTrace&) = delete;
    WireTrace& operator=(const WireTrace&) = delete;

    bool IsOpen() const { return m_file != nullptr; }

    void Transmit(std::span<const std::uint8_t> bytes) { Bytes("tx", bytes); }
    void Receive(std::span<const std::uint8_t> bytes) { Bytes("rx", bytes); }
    // One report per line, however long, so a report reads as the unit the device sees.
    void TransmitReport(std::span<const std::uint8_t> report) { Report("tx", report); }
    void ReceiveReport(std::span<const std::uint8_t> report) { Report("rx", report); }
    void Note(const std::string& text);  // open, close and the like

private:
    void Bytes(const char* direction, std::span<const std::uint8_t> bytes);
    void Report(const char* direction, std::span<const std::uint8_t> report);
    void Line(std::chrono::steady_clock::time_point at, const std::string& body);
    void EndLine();  // writes the pending byte line, if any

    std::mutex m_lock;
    std::FILE* m_file = nullptr;
    const std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();

    // The byte line being gathered: bytes in one direction that follow each other closely.
    std::string m_lineDirection;  // empty when no line is pending
    std::vector<std::uint8_t> m_lineBytes;
    std::chrono::steady_clock::time_point m_lineStart;
    std::chrono::steady_clock::time_point m_lineLast;
};

}  // namespace tarvik
