#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "hid/HidTransport.h"
#include "image/FirmwareBlock.h"

// The USB loader's reports, both directions. The tool builds its reports here; the simulated
// loader checks what it receives against these constants.
namespace tarvik::hid {

// The boot-mode device: all three values must match.
inline constexpr HidAttributes kBootLoader = {0xFFFF, 0x0012, 0x0100};

// Start report: opens a download; not acknowledged.
inline constexpr std::uint8_t kStartCommand = 0xB5;

// Block header report: marker, page high, page low, checksum, then this constant.
inline constexpr std::uint8_t kHeaderMarker = 0xAA;
inline constexpr std::uint8_t kHeaderTrailer = 0x04;

// Block data reports: marker, count, then up to 50 of the block's bytes.
inline constexpr std::uint8_t kDataMarker = 0x55;
inline constexpr std::size_t kDataPerReport = 50;
inline constexpr std::size_t kDataReportsPerBlock = 41;  // 40 of 50 bytes, one of 48
inline constexpr std::size_t kDataOffset = 3;

// Acknowledgement: an input report with "U5U" at bytes 2 to 4, report ID at byte 0.
inline constexpr std::array<std::uint8_t, 3> kAck = {'U', '5', 'U'};
inline constexpr std::size_t kAckOffset = 2;

inline HidReport StartReport() {
    HidReport report{};
    report[1] = kStartCommand;
    return report;
}

// The 42 reports of one block, header first. They are built in one buffer that is cleared
// once, before the header, and not between the data reports: each data report overwrites
// only its first 3 + n bytes, so the last one still carries block bytes 1998 and 1999 at
// bytes 51 and 52 from the report before it. The loader has always seen them so.
inline std::vector<HidReport> BlockReports(std::uint16_t page, std::uint8_t checksum,
                                           BlockData data) {
    std::vector<HidReport> reports;
    reports.reserve(1 + kDataReportsPerBlock);
    HidReport buffer{};
    buffer[1] = kHeaderMarker;
    buffer[2] = static_cast<std::uint8_t>(page >> 8);
    buffer[3] = static_cast<std::uint8_t>(page & 0xFF);
    buffer[4] = checksum;
    buffer[5] = kHeaderTrailer;
    reports.push_back(buffer);
    for (std::size_t at = 0; at < data.size(); at += kDataPerReport) {
        const std::size_t n = std::min(kDataPerReport, data.size() - at);
        buffer[0] = 0x00;
        buffer[1] = kDataMarker;
        buffer[2] = static_cast<std::uint8_t>(n);
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(at), n,
                    buffer.begin() + kDataOffset);
        reports.push_back(buffer);
    }
    return reports;
}

// True for an input report of at least three bytes with "U5U" at bytes 2 to 4.
inline bool IsAckReport(const HidReport& report, std::size_t count) {
    return count >= kAckOffset + kAck.size() && report[kAckOffset] == kAck[0] &&
           report[kAckOffset + 1] == kAck[1] && report[kAckOffset + 2] == kAck[2];
}

}  // namespace tarvik::hid
