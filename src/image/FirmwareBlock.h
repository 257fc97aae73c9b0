#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarvik {

inline constexpr std::size_t kBlockSize = 2048;
// A page is 256 bytes, so block i starts at page 8 × i.
inline constexpr std::uint32_t kPagesPerBlock = 8;
// The page number travels as 16 bits, which addresses at most this many blocks.
inline constexpr std::uint32_t kMaxBlocks = 8192;

using BlockData = std::span<const std::uint8_t, kBlockSize>;

// One block as it is sent: index, data, page number and checksum.
struct FirmwareBlock {
    std::uint32_t m_nIndex = 0;
    const std::uint8_t* m_pData = nullptr;
    std::uint16_t m_nPage = 0;
    std::uint8_t m_byChecksum = 0;

    BlockData Data() const { return BlockData(m_pData, kBlockSize); }
    std::uint8_t PageHigh() const { return static_cast<std::uint8_t>(m_nPage >> 8); }
    std::uint8_t PageLow() const { return static_cast<std::uint8_t>(m_nPage & 0xFF); }
};

// (page + sum of the data bytes) mod 256: only the page's low byte enters the sum.
std::uint8_t ComputeBlockChecksum(std::uint32_t page, BlockData data);

}  // namespace tarvik
