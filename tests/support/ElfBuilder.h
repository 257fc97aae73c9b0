#pragma once

#include <cstdint>
#include <vector>

namespace tarvik::test {

struct ElfSegment {
    std::uint32_t offset;   // p_offset
    std::uint32_t address;  // p_vaddr
    std::uint32_t size;     // p_filesz
};

// A 32-bit little-endian ELF file of `size` bytes, broken ones included: `segments` in a
// program header table at 0x34, of which e_phnum counts `count` (all when negative), with
// e_phoff pointing at `tableAt`. From 0x200 on, each byte tells its offset.
inline std::vector<std::uint8_t> Elf(std::size_t size, const std::vector<ElfSegment>& segments,
                                     int count = -1, std::uint32_t tableAt = 0x34) {
    std::vector<std::uint8_t> bytes(size, 0);
    const auto put = [&](std::size_t at, std::uint32_t value, int width) {
        for (int i = 0; i < width; ++i) {
            bytes.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
        }
    };
    for (std::size_t i = 0x200; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
    }
    put(0, 0x464C457F, 4);  // "\x7F" "ELF"
    put(28, tableAt, 4);
    put(44, static_cast<std::uint32_t>(count < 0 ? segments.size() : std::size_t(count)), 2);
    for (std::size_t i = 0; i < segments.size(); ++i) {
        put(0x34 + 32 * i + 4, segments[i].offset, 4);
        put(0x34 + 32 * i + 8, segments[i].address, 4);
        put(0x34 + 32 * i + 16, segments[i].size, 4);
    }
    return bytes;
}

}  // namespace tarvik::test
