// The raw image in whole blocks: send order, pages, checksums, progress and refusals; and the
// operator's choice of file: title and extension, and which case variant is meant.
#include <gtest/gtest.h>

#include <numeric>

#include "image/FirmwareFiles.h"
#include "image/FirmwareImage.h"
#include "support/TempDir.h"

namespace tarvik {
namespace {

using Bytes = std::vector<std::uint8_t>;

class FirmwareImageTest : public ::testing::Test {
protected:
    std::optional<OperatorMessage> Load(const Bytes& bytes, const std::string& name = "fw.bin") {
        return m_image.Load(FirmwareFileFromPath(m_dir.Write(name, bytes)));
    }
    test::TempDir m_dir;
    FirmwareImage m_image;
};

TEST_F(FirmwareImageTest, BlocksGoOneToNThenZeroWithTheirPagesChecksumsAndProgress) {
    std::array<std::uint8_t, kBlockSize> ones{};
    ones.fill(0xFF);  // 2048 × 0xFF is 0 modulo 256; of page 0x0108 only 0x08 counts
    EXPECT_EQ(ComputeBlockChecksum(0x0108, ones), 0x08);

    // The progress position after some of the blocks.
    const std::vector<std::pair<std::size_t, std::vector<std::pair<std::uint32_t, unsigned>>>>
        cases = {{1, {}},
                 {kBlockSize, {}},
                 {kBlockSize + 1, {{1, 50}}},
                 {5000, {{1, 33}, {2, 66}}},
                 {33 * kBlockSize + 5, {{33, 97}}},
                 {kMaxBlocks * kBlockSize, {{kMaxBlocks - 1, 99}}}};
    for (const auto& [size, progress] : cases) {
        SCOPED_TRACE(size);
        Bytes file = test::PatternBytes(size);
        ASSERT_EQ(Load(file), std::nullopt);
        const std::uint32_t n = static_cast<std::uint32_t>((size + kBlockSize - 1) / kBlockSize);
        EXPECT_EQ(std::pair(m_image.m_nLength, m_image.m_nBlockCount),
                  std::pair(std::uint32_t(size), n));
        std::vector<std::uint32_t> order(n);
        std::iota(order.begin(), order.end() - 1, 1u);
        EXPECT_EQ(m_image.SendOrder(), order);
        file.resize(n * kBlockSize, 0);
        for (std::uint32_t i = 0; i < n; ++i) {
            const FirmwareBlock block = m_image.GetBlock(i);
            const auto first = file.begin() + i * kBlockSize, last = first + kBlockSize;
            EXPECT_EQ(block.m_nIndex, i);
            ASSERT_EQ(block.m_nPage, 8 * i);
            ASSERT_TRUE(std::equal(first, last, block.Data().begin())) << i;
            ASSERT_EQ(block.m_byChecksum, std::accumulate(first, last, 8 * i % 256) % 256) << i;
        }
        for (const auto& [index, position] : progress) {
            EXPECT_EQ(m_image.ProgressAfter(index), position) << index;
        }
        m_image.Release();
        EXPECT_EQ(
            std::tuple(m_image.IsLoaded(), m_image.m_pBuffer.capacity(), m_image.m_nBlockCount),
            std::tuple(false, 0u, 0u));
    }
}

// What Load refuses Run refuses first (the road tests tell each reason); refused, the image
// held before is gone.
TEST_F(FirmwareImageTest, ARefusedImageLeavesNothingHeld) {
    ASSERT_EQ(Load({1}, "held.bin"), std::nullopt);
    EXPECT_EQ(m_image.Load({m_dir.Path(), "absent", "bin"}),
              WindowMessage("Cannot open firmware image " + (m_dir.Path() / "absent.bin").string() +
                                ": No such file or directory.",
                            "Error"));
    EXPECT_FALSE(m_image.IsLoaded());
}

TEST_F(FirmwareImageTest, TitleIsCutBeforeTheLastDotAndTheVariantIsTheChosenThenLowerUpperAny) {
    const auto file = FirmwareFileFromPath("/fw/dir.v2/app-1.2.3.Bin");
    EXPECT_EQ(std::tuple(file.folder, file.title, file.ext),
              std::tuple("/fw/dir.v2", "app-1.2.3", "Bin"));
    const auto bare = FirmwareFileFromPath("image");
    EXPECT_EQ(std::tuple(bare.title, bare.ext, bare.Folder()), std::tuple("image", "", "."));
#ifdef _WIN32
    return;  // names that differ only in case are one file there
#endif

    std::uint8_t mark = 0x21;  // tells the variants apart
    for (const char* name : {"fw.bIn", "fw.BIN", "fw.Bin", "fwx.bin"}) {
        m_dir.Write(name, {mark++});
    }
    ASSERT_EQ(Load(Bytes(10, 0x11)), std::nullopt);
    const auto find = [&](const std::string& ext) {
        const auto found = FindFirmwareVariant({m_dir.Path(), "fw", ext}, "bin");
        return found ? found->filename().string() : "none";
    };
    EXPECT_EQ(find("Bin"), "fw.Bin");
    ASSERT_EQ(m_image.Load(FirmwareFileFromPath(m_dir.Path() / "fw.BIN")), std::nullopt);
    EXPECT_EQ(m_image.GetBlock(0).Data()[0], 0x22);
    // After a conversion, the lower-case file it wrote.
    ASSERT_EQ(m_image.Load(FirmwareFileFromPath(m_dir.Path() / "fw.out")), std::nullopt);
    EXPECT_EQ(m_image.GetBlock(0).Data()[0], 0x11);
    EXPECT_EQ(m_image.Path(), m_dir.Path() / "fw.bin");
    // Each variant found is taken away before the next look; a folder is no firmware.
    for (const auto& [ext, found] : std::vector<std::pair<std::string, std::string>>{
             {"out", "fw.bin"}, {"out", "fw.BIN"}, {"out", "fw.Bin"}, {"", "fw.bIn"}}) {
        EXPECT_EQ(find(ext), found);
        std::filesystem::remove(m_dir.Path() / found);
    }
    EXPECT_EQ(find("bin"), "none");
    std::filesystem::create_directory(m_dir.Path() / "fw.bin");
    EXPECT_EQ(find("bin"), "none");
}

}  // namespace
}  // namespace tarvik
