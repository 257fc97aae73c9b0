// Any bytes as a raw image file: it loads unless empty, its blocks carry the file's bytes
// zero-filled to whole blocks, each with its page and checksum, in the send order (block 0
// last), and it is let go cleanly.
#include <algorithm>
#include <vector>

#include "FuzzSupport.h"
#include "image/FirmwareImage.h"

using namespace tarvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzz::ScratchFolder scratch;
    fuzz::WriteFile(scratch.Path() / "fw.bin", {data, size});

    FirmwareImage image;
    const auto error = image.Load({scratch.Path(), "fw", "bin"});
    fuzz::Check(error.has_value() == (size == 0), "an image refused, or an empty one loaded");
    if (error) {
        fuzz::Check(!image.IsLoaded(), "a refused image held");
        return 0;
    }
    const std::uint32_t blocks = static_cast<std::uint32_t>((size + kBlockSize - 1) / kBlockSize);
    fuzz::Check(image.m_nLength == size && image.m_nBlockCount == blocks,
                "the image's length or block count is wrong");
    const std::vector<std::uint32_t> order = image.SendOrder();
    fuzz::Check(order.size() == blocks && order.back() == 0, "block 0 is not sent last");
    std::vector<std::uint8_t> expected(kBlockSize);
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::uint32_t index = order[k];
        fuzz::Check(index == (k + 1) % blocks, "the blocks are not sent in ascending order");
        const FirmwareBlock block = image.GetBlock(index);
        std::fill(expected.begin(), expected.end(), 0);
        const std::size_t from = std::size_t{index} * kBlockSize;
        std::copy(data + from, data + std::min(size, from + kBlockSize), expected.begin());
        const auto bytes = block.Data();
        fuzz::Check(std::equal(bytes.begin(), bytes.end(), expected.begin()),
                    "a block does not carry the file's bytes");
        fuzz::Check(block.m_nPage == index * kPagesPerBlock, "a block's page is wrong");
        unsigned sum = block.m_nPage & 0xFF;
        for (const std::uint8_t byte : expected) {
            sum += byte;
        }
        fuzz::Check(block.m_byChecksum == (sum & 0xFF), "a block's checksum is wrong");
        if (index != 0) {
            fuzz::Check(image.ProgressAfter(index) < 100, "100 % before the last block");
        }
    }
    image.Release();
    fuzz::Check(!image.IsLoaded() && image.m_nBlockCount == 0, "a released image still held");
    return 0;
}
