#pragma once

#include <cstddef>
#include <cstdint>

// The parts of a 32-bit little-endian ELF file that the conversion reads.
namespace tarvik::elf {

inline constexpr std::size_t kHeaderSize = 52;
inline constexpr std::size_t kMagicOffset = 1;  // "ELF"; byte 0 is not compared
inline constexpr std::size_t kPhoffOffset = 28;
inline constexpr std::size_t kPhnumOffset = 44;  // 16 bits

inline constexpr std::size_t kEntrySize = 32;  // the stride; e_phentsize is not read
inline constexpr std::size_t kPOffsetOffset = 4;
inline constexpr std::size_t kPVaddrOffset = 8;
inline constexpr std::size_t kPFileszOffset = 16;

// Segments are copied in whole 512-byte units into a work buffer of this size.
inline constexpr std::size_t kReadUnit = 512;
inline constexpr std::size_t kWorkBufferSize = 0x40000;

inline std::uint32_t Le32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

inline std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

}  // namespace tarvik::elf
