#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// The maintenance frames for the device and its cradle, at 9600 baud, and their replies.
// The tool builds its frames from here; the simulated loader parses them with the same
// constants.
namespace tarvik::maint {

inline constexpr int kBaudIndex = 4;  // 9600 baud

// Command frame: the lead byte in one write request, then four characters in another.
inline constexpr std::uint8_t kCommandLead = 0xAA;
inline constexpr std::size_t kCommandSize = 4;

inline constexpr std::string_view kKe99 = "KE99";
inline constexpr std::string_view kKe01 = "KE01";
inline constexpr std::string_view kKe97 = "KE97";
inline constexpr std::string_view kDash02 = "--02";
inline constexpr std::string_view kReset = "----";
inline constexpr std::string_view kVersion = "%/%/";
inline constexpr std::string_view kQuery = "/%/%";
inline constexpr std::string_view kUndiscover = "CR01";
inline constexpr std::string_view kCr02 = "CR02";

// Cradle ID: 0xA7 through one port opening, then 'B', twelve characters, 'T' through another.
inline constexpr std::uint8_t kCradleLead = 0xA7;
inline constexpr std::uint8_t kCradleStart = 'B';
inline constexpr std::uint8_t kCradleEnd = 'T';
inline constexpr std::size_t kCradleIdSize = 12;

// Raw text: 0xB5 through one port opening, then 'D', the text, 'N' through another.
inline constexpr std::uint8_t kRawLead = 0xB5;
inline constexpr std::uint8_t kRawStart = 'D';
inline constexpr std::uint8_t kRawEnd = 'N';
inline constexpr std::size_t kRawTextMax = 254;  // the frame is built in 256 bytes

// Replies.
inline constexpr std::uint8_t kUndiscoverAck = 0x06;  // ASCII ACK
inline constexpr std::size_t kCr02ReplySize = 16;     // 'C', five values, nine more, 'R'
inline constexpr std::uint8_t kCr02First = 'C';
inline constexpr std::uint8_t kCr02Last = 'R';
inline constexpr std::size_t kTextReplyMax = 100;

}  // namespace tarvik::maint
