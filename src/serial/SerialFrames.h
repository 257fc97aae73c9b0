#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "image/FirmwareBlock.h"

// The serial loader's wire format, both directions. The tool and the simulated loader both
// build and check their bytes from here.
namespace tarvik::serial {

// Wake sequence, at 9600 baud: the wake byte twice, 10 ms apart.
inline constexpr std::uint8_t kWakeByte = 0xA2;
inline constexpr int kWakeBaudIndex = 4;
inline constexpr std::uint32_t kWakeBaud = 9600;
// Search, at 115200 baud: the tool sends kSearchByte until a reply starts with kFoundByte.
inline constexpr std::uint8_t kSearchByte = 0xA5;
inline constexpr std::uint8_t kFoundByte = 0x5A;
inline constexpr int kDownloadBaudIndex = 0;
inline constexpr std::uint32_t kDownloadBaud = 115200;

using Command = std::array<std::uint8_t, 5>;
inline constexpr Command kClear = {'U', 'C', 'L', 'R', 'U'};
inline constexpr Command kFlash = {'U', 'F', 'L', 'H', 'U'};
inline constexpr Command kReboot = {'U', 'R', 'B', 'T', 'U'};  // not acknowledged

// The loader acknowledges each command and block frame with these three bytes.
inline constexpr std::array<std::uint8_t, 3> kAck = {'U', '5', 'U'};

// Block frame: page high byte, page low byte, 2048 data bytes, checksum.
inline constexpr std::size_t kFrameSize = 2 + kBlockSize + 1;

inline std::vector<std::uint8_t> BlockFrame(const FirmwareBlock& block) {
    std::vector<std::uint8_t> frame(kFrameSize);
    frame[0] = block.PageHigh();
    frame[1] = block.PageLow();
    const auto data = block.Data();
    std::copy(data.begin(), data.end(), frame.begin() + 2);
    frame[kFrameSize - 1] = block.m_byChecksum;
    return frame;
}

}  // namespace tarvik::serial
