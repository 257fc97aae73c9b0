#include "image/FirmwareImage.h"

#include <algorithm>
#include <cerrno>
#include <new>

#include "image/StdioFile.h"

namespace tarvik {
namespace {

// Ten zero blocks stay behind the image, as the loader's tools have always allocated them.
constexpr std::size_t kSpareBlocks = 10;
constexpr std::uint64_t kMaxLength = std::uint64_t{kMaxBlocks} * kBlockSize;

OperatorMessage ImageError(std::string text) {
    return WindowMessage(std::move(text), "Error");
}

}  // namespace

std::optional<OperatorMessage> FirmwareImage::Load(const FirmwareFile& file) {
    Release();
    const auto found = FindFirmwareVariant(file, "bin");
    const std::filesystem::path path = found ? *found : file.Folder() / (file.title + ".bin");
    const std::string name = path.string();
    if (!found) {
        return ImageError("Cannot open firmware image " + name + ": " + SystemReason(ENOENT) + ".");
    }
    errno = 0;
    StdioFile in(std::fopen(name.c_str(), "rb"));
    if (!in) {
        return ImageError("Cannot open firmware image " + name + ": " + SystemReason(errno) + ".");
    }
    const auto size = StreamSize(in.get());
    if (!size || std::fseek(in.get(), 0, SEEK_SET) != 0) {
        return ImageError("Cannot read firmware image " + name + ": " +
                          SystemReason(errno ? errno : EIO) + ".");
    }
    if (*size == 0) {
        return ImageError("The firmware image " + name + " is empty; nothing was sent.");
    }
    if (*size > kMaxLength) {
        return ImageError("The firmware image " + name + " has " + std::to_string(*size) +
                          " bytes; at most 16777216 bytes (8192 blocks) can be sent.");
    }

    const auto length = static_cast<std::uint32_t>(*size);
    const std::uint32_t blocks = (length >> 11) + ((length & 0x7FF) != 0 ? 1 : 0);
    std::vector<std::uint8_t> buffer;
    try {
        buffer.assign((blocks + kSpareBlocks) * kBlockSize, 0);
    } catch (const std::bad_alloc&) {
        return ImageError("Memory error!");
    }
    errno = 0;
    if (std::fread(buffer.data(), 1, length, in.get()) != length) {
        return ImageError("Cannot read firmware image " + name + ": " +
                          SystemReason(errno ? errno : EIO) + ".");
    }

    m_nLength = length;
    m_nBlockCount = blocks;
    m_pBuffer = std::move(buffer);
    std::copy_n(m_pBuffer.begin(), kBlockSize, m_abBlock0.begin());
    m_path = path;
    return std::nullopt;
}

FirmwareBlock FirmwareImage::GetBlock(std::uint32_t index) const {
    FirmwareBlock block;
    block.m_nIndex = index;
    block.m_pData = index == 0 ? m_abBlock0.data() : m_pBuffer.data() + index * kBlockSize;
    block.m_nPage = static_cast<std::uint16_t>(index * kPagesPerBlock);
    block.m_byChecksum = ComputeBlockChecksum(block.m_nPage, block.Data());
    return block;
}

std::vector<std::uint32_t> FirmwareImage::SendOrder() const {
    std::vector<std::uint32_t> order;
    for (std::uint32_t i = 1; i < m_nBlockCount; ++i) {
        order.push_back(i);
    }
    order.push_back(0);
    return order;
}

std::uint32_t FirmwareImage::ProgressAfter(std::uint32_t index) const {
    return 100 * index / m_nBlockCount;
}

void FirmwareImage::Release() {
    m_pBuffer.clear();
    m_pBuffer.shrink_to_fit();
    m_nLength = 0;
    m_nBlockCount = 0;
    m_abBlock0.fill(0);
    m_path.clear();
}

}  // namespace tarvik
