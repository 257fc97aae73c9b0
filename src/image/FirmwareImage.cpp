#include "image/FirmwareImage.h"

#include <algorithm>
#include <cerrno>
#include <new>

#include "image/StdioFile.h"
#include "image/Utf8Path.h"

namespace tarvik {
namespace {

// Ten zero blocks stay behind the image, as the loader's tools have always allocated them.
constexpr std::size_t kSpareBlocks = 10;
constexpr std::uint64_t kMaxLength = std::uint64_t{kMaxBlocks} * kBlockSize;

OperatorMessage ImageError(std::string text) {
    return WindowMessage(std::move(text), "Error");
}

// The image file opened, at its start, with a length that can be sent.
struct OpenedImage {
    std::filesystem::path path;
    StdioFile in;
    std::uint32_t length = 0;
    std::optional<OperatorMessage> error;
};

OpenedImage OpenImage(const FirmwareFile& file) {
    OpenedImage opened;
    const auto found = FindFirmwareVariant(file, "bin");
    opened.path = found ? *found : file.Folder() / PathFromUtf8(file.title + ".bin");
    const std::string name = opened.path.string();
    const auto fail = [&](std::string text) {
        opened.in.reset();
        opened.error = ImageError(std::move(text));
        return std::move(opened);
    };
    std::error_code ec;
    if (std::filesystem::is_directory(opened.path, ec)) {
        return fail("Cannot open firmware image " + name + ": " + SystemReason(EISDIR) + ".");
    }
    if (!found) {
        return fail("Cannot open firmware image " + name + ": " + SystemReason(ENOENT) + ".");
    }
    errno = 0;
    opened.in.reset(OpenStdioFile(opened.path, "rb"));
    if (!opened.in) {
        return fail("Cannot open firmware image " + name + ": " + SystemReason(errno) + ".");
    }
    const auto size = StreamSize(opened.in.get());
    if (!size || std::fseek(opened.in.get(), 0, SEEK_SET) != 0) {
        return fail("Cannot read firmware image " + name + ": " +
                    SystemReason(errno ? errno : EIO) + ".");
    }
    if (*size == 0) {
        return fail("The firmware image " + name + " is empty; nothing was sent.");
    }
    if (*size > kMaxLength) {
        return fail("The firmware image " + name + " has " + std::to_string(*size) +
                    " bytes; at most 16777216 bytes (8192 blocks) can be sent.");
    }
    opened.length = static_cast<std::uint32_t>(*size);
    return opened;
}

}  // namespace

std::optional<OperatorMessage> FirmwareImage::Check(const FirmwareFile& file) {
    OpenedImage opened = OpenImage(file);
    if (opened.error) {
        return opened.error;
    }
    // Readable to its first byte: a file that opens but cannot be read (a folder on some
    // systems, a broken medium) fails here rather than after the loader was woken.
    std::uint8_t first = 0;
    errno = 0;
    if (std::fread(&first, 1, 1, opened.in.get()) != 1) {
        return ImageError("Cannot read firmware image " + opened.path.string() + ": " +
                          SystemReason(errno ? errno : EIO) + ".");
    }
    return std::nullopt;
}

std::optional<OperatorMessage> FirmwareImage::Load(const FirmwareFile& file) {
    Release();
    OpenedImage opened = OpenImage(file);
    if (opened.error) {
        return opened.error;
    }
    const std::string name = opened.path.string();
    StdioFile& in = opened.in;
    const std::uint32_t length = opened.length;
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
    m_path = opened.path;
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
