#include "image/FirmwareBlock.h"

namespace tarvik {

std::uint8_t ComputeBlockChecksum(std::uint32_t page, BlockData data) {
    std::uint8_t sum = 0;
    for (const std::uint8_t byte : data) {
        sum = static_cast<std::uint8_t>(sum + byte);
    }
    return static_cast<std::uint8_t>(sum + (page & 0xFF));
}

}  // namespace tarvik
