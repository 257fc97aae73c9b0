#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace tarvik::sim {

// How the simulated loaders write numbers and bytes in their logs and errors.

// "0x5A" for a byte, "0x0008" with four digits.
inline std::string Hex(unsigned value, int digits = 2) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

// "0x0008"
inline std::string PageText(std::uint32_t page) {
    return Hex(page, 4);
}

// "55 46 4C 48 00"
inline std::string HexBytes(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        text += text.empty() ? "" : " ";
        text += digits;
    }
    return text;
}

}  // namespace tarvik::sim
