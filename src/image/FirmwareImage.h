#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "image/FirmwareBlock.h"
#include "image/FirmwareFiles.h"
#include "image/OperatorMessage.h"

namespace tarvik {

// The raw image of one download, in whole 2048-byte blocks, with its send order.
class FirmwareImage {
public:
    // Loads `title`.bin (extension in any case) from the firmware's folder. On failure
    // nothing is held and the message says why; an empty image and one of more than
    // 8192 blocks are refused here, before anything is sent.
    std::optional<OperatorMessage> Load(const FirmwareFile& file);

    // The checks of Load without holding the image: what Load would refuse now (missing,
    // a folder, unreadable, empty, too large), with the same message.
    static std::optional<OperatorMessage> Check(const FirmwareFile& file);

    FirmwareBlock GetBlock(std::uint32_t index) const;

    // Blocks 1 to n - 1 in ascending order, then block 0.
    std::vector<std::uint32_t> SendOrder() const;

    // The progress position once block `index` (1 to n - 1) has been acknowledged.
    std::uint32_t ProgressAfter(std::uint32_t index) const;

    void Release();

    bool IsLoaded() const { return !m_pBuffer.empty(); }
    const std::filesystem::path& Path() const { return m_path; }

    std::uint32_t m_nLength = 0;
    std::uint32_t m_nBlockCount = 0;
    std::vector<std::uint8_t> m_pBuffer;                // n blocks plus ten spare, zero-filled
    std::array<std::uint8_t, kBlockSize> m_abBlock0{};  // block 0 is sent from this copy

private:
    std::filesystem::path m_path;
};

}  // namespace tarvik
