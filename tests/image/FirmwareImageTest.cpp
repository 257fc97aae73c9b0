// The raw image in whole blocks: send order, pages, checksums, progress, and refusals.
#include <gtest/gtest.h>

#include <numeric>

#include "image/FirmwareImage.h"
#include "support/TempDir.h"

namespace tarvik {
namespace {

using Bytes = std::vector<std::uint8_t>;

class FirmwareImageTest : public ::testing::Test {
protected:
    std::optional<OperatorMessage> LoadBytes(const Bytes& bytes,
                                             const std::string& name = "fw.bin") {
        m_dir.Write(name, bytes);
        return m_image.Load(FirmwareFileFromPath(m_dir.Path() / name));
    }

    Bytes BlockBytes(std::uint32_t index) const {
        const auto data = m_image.GetBlock(index).Data();
        return Bytes(data.begin(), data.end());
    }

    test::TempDir m_dir;
    FirmwareImage m_image;
};

TEST_F(FirmwareImageTest, ChecksumAddsOnlyThePagesLowByte) {
    std::array<std::uint8_t, kBlockSize> data{};
    EXPECT_EQ(ComputeBlockChecksum(8, data), 0x08);
    EXPECT_EQ(ComputeBlockChecksum(0, data), 0x00);
    EXPECT_EQ(ComputeBlockChecksum(0x100, data), 0x00);
    data.fill(0xFF);  // 2048 × 0xFF is 0 modulo 256
    EXPECT_EQ(ComputeBlockChecksum(8, data), 0x08);
    data.fill(0);
    data[0] = 0xF0;
    data[2047] = 0x20;
    EXPECT_EQ(ComputeBlockChecksum(0x0108, data), (0xF0 + 0x20 + 0x08) % 256);
}

TEST_F(FirmwareImageTest, OneBlockImagesSendBlockZeroAlone) {
    for (std::size_t size : {std::size_t{1}, kBlockSize}) {
        SCOPED_TRACE(size);
        const Bytes file = test::PatternBytes(size);
        ASSERT_FALSE(LoadBytes(file).has_value());
        EXPECT_EQ(m_image.m_nBlockCount, 1u);
        EXPECT_EQ(m_image.SendOrder(), std::vector<std::uint32_t>{0});
        const FirmwareBlock block = m_image.GetBlock(0);
        EXPECT_EQ(block.m_nPage, 0);
        Bytes expected = file;
        expected.resize(kBlockSize, 0);
        EXPECT_EQ(BlockBytes(0), expected);
        EXPECT_EQ(block.m_byChecksum, std::accumulate(expected.begin(), expected.end(), 0u) % 256);
    }
}

TEST_F(FirmwareImageTest, ByteBeyondTheFirstBlockMakesASecondZeroPaddedBlock) {
    Bytes file = test::PatternBytes(2049);
    ASSERT_FALSE(LoadBytes(file).has_value());
    EXPECT_EQ(m_image.m_nLength, 2049u);
    EXPECT_EQ(m_image.m_nBlockCount, 2u);
    EXPECT_EQ(m_image.SendOrder(), (std::vector<std::uint32_t>{1, 0}));
    const FirmwareBlock block = m_image.GetBlock(1);
    EXPECT_EQ(block.m_nPage, 8);
    Bytes expected(kBlockSize, 0);
    expected[0] = file[2048];
    EXPECT_EQ(BlockBytes(1), expected);
    EXPECT_EQ(block.m_byChecksum, (8 + file[2048]) % 256);
    EXPECT_EQ(m_image.ProgressAfter(1), 50u);
    EXPECT_EQ(BlockBytes(0), Bytes(file.begin(), file.begin() + kBlockSize));
}

TEST_F(FirmwareImageTest, ThreeBlocksGoOneTwoZeroWithTheirPagesAndProgress) {
    ASSERT_FALSE(LoadBytes(test::PatternBytes(5000)).has_value());
    EXPECT_EQ(m_image.SendOrder(), (std::vector<std::uint32_t>{1, 2, 0}));
    const std::vector<std::pair<int, int>> pages = {
        {m_image.GetBlock(1).PageHigh(), m_image.GetBlock(1).PageLow()},
        {m_image.GetBlock(2).PageHigh(), m_image.GetBlock(2).PageLow()},
        {m_image.GetBlock(0).PageHigh(), m_image.GetBlock(0).PageLow()}};
    EXPECT_EQ(pages, (std::vector<std::pair<int, int>>{{0x00, 0x08}, {0x00, 0x10}, {0x00, 0x00}}));
    EXPECT_EQ(m_image.ProgressAfter(1), 33u);
    EXPECT_EQ(m_image.ProgressAfter(2), 66u);
}

TEST_F(FirmwareImageTest, BlockThirtyTwoIsPage0x0100WithAPlainSum) {
    const Bytes file = test::PatternBytes(33 * kBlockSize + 5);
    ASSERT_FALSE(LoadBytes(file).has_value());
    const FirmwareBlock block = m_image.GetBlock(32);
    EXPECT_EQ(block.PageHigh(), 0x01);
    EXPECT_EQ(block.PageLow(), 0x00);
    const auto first = file.begin() + 32 * kBlockSize;
    EXPECT_EQ(block.m_byChecksum, std::accumulate(first, first + kBlockSize, 0u) % 256);
    EXPECT_EQ(m_image.GetBlock(33).m_nPage, 0x0108);
    EXPECT_EQ(m_image.ProgressAfter(33), 97u);
}

TEST_F(FirmwareImageTest, EmptyAndOversizedImagesAreRefusedBeforeAnythingIsHeld) {
    auto error = LoadBytes({});
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->caption, "Error");
    EXPECT_NE(error->text.find("fw.bin is empty"), std::string::npos) << error->text;
    EXPECT_FALSE(m_image.IsLoaded());

    const auto big = m_dir.Path() / "big.bin";
    LoadBytes({1}, "big.bin");
    std::filesystem::resize_file(big, std::uint64_t{kMaxBlocks} * kBlockSize + 1);
    error = m_image.Load(FirmwareFileFromPath(big));
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->text.find("16777217 bytes; at most 16777216 bytes (8192 blocks)"),
              std::string::npos)
        << error->text;
    EXPECT_FALSE(m_image.IsLoaded());

    std::filesystem::resize_file(big, std::uint64_t{kMaxBlocks} * kBlockSize);
    ASSERT_FALSE(m_image.Load(FirmwareFileFromPath(big)).has_value());
    EXPECT_EQ(m_image.m_nBlockCount, kMaxBlocks);
    EXPECT_EQ(m_image.GetBlock(kMaxBlocks - 1).m_nPage, 0xFFF8);
    EXPECT_EQ(m_image.ProgressAfter(kMaxBlocks - 1), 99u);
}

TEST_F(FirmwareImageTest, MissingImageNamesTheFileAndTheReason) {
    const auto error = m_image.Load({m_dir.Path(), "absent", "bin"});
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(*error,
              WindowMessage("Cannot open firmware image " + (m_dir.Path() / "absent.bin").string() +
                                ": No such file or directory.",
                            "Error"));
}

TEST_F(FirmwareImageTest, LoadsTheVariantTheOperatorChose) {
    m_dir.Write("fw.bin", Bytes(10, 0x11));
    m_dir.Write("fw.BIN", Bytes(10, 0x22));
    ASSERT_FALSE(m_image.Load(FirmwareFileFromPath(m_dir.Path() / "fw.BIN")).has_value());
    EXPECT_EQ(BlockBytes(0)[0], 0x22);
    // After a conversion, the lower-case file it wrote.
    ASSERT_FALSE(m_image.Load(FirmwareFileFromPath(m_dir.Path() / "fw.out")).has_value());
    EXPECT_EQ(BlockBytes(0)[0], 0x11);
    EXPECT_EQ(m_image.Path(), m_dir.Path() / "fw.bin");
}

TEST_F(FirmwareImageTest, BlockZeroIsSentFromItsCopyAndReleaseDropsEverything) {
    ASSERT_FALSE(LoadBytes(test::PatternBytes(3000)).has_value());
    EXPECT_NE(m_image.GetBlock(0).m_pData, m_image.m_pBuffer.data());
    EXPECT_EQ(m_image.m_pBuffer.size(), (2 + 10) * kBlockSize);
    m_image.Release();
    EXPECT_FALSE(m_image.IsLoaded());
    EXPECT_EQ(m_image.m_pBuffer.capacity(), 0u);
    EXPECT_EQ(m_image.m_nBlockCount, 0u);
}

}  // namespace
}  // namespace tarvik
