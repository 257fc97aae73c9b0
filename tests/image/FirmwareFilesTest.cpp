// The operator's choice of file: title and extension, and which case variant is meant.
#include <gtest/gtest.h>

#include "image/FirmwareFiles.h"
#include "support/TempDir.h"

namespace tarvik {
namespace {

TEST(FirmwareFilesTest, TitleIsCutBeforeTheLastDot) {
    auto file = FirmwareFileFromPath("/fw/dir.v2/app-1.2.3.Bin");
    EXPECT_EQ(file.folder, "/fw/dir.v2");
    EXPECT_EQ(file.title, "app-1.2.3");
    EXPECT_EQ(file.ext, "Bin");
    file = FirmwareFileFromPath("image");
    EXPECT_EQ(file.title, "image");
    EXPECT_EQ(file.ext, "");
    EXPECT_EQ(file.Folder(), ".");
}

TEST(FirmwareFilesTest, PrefersTheChosenCaseThenLowerThenUpperThenAnyOther) {
    test::TempDir dir;
    for (const char* name : {"fw.bIn", "fw.BIN", "fw.bin", "fw.Bin", "fwx.bin"}) {
        dir.Write(name, {1});
    }
    const auto find = [&](const std::string& ext) {
        return FindFirmwareVariant({dir.Path(), "fw", ext}, "bin")->filename().string();
    };
    EXPECT_EQ(find("Bin"), "fw.Bin");
    EXPECT_EQ(find("out"), "fw.bin");
    std::filesystem::remove(dir.Path() / "fw.bin");
    EXPECT_EQ(find("out"), "fw.BIN");
    std::filesystem::remove(dir.Path() / "fw.BIN");
    EXPECT_EQ(find("out"), "fw.Bin");
    std::filesystem::remove(dir.Path() / "fw.Bin");
    EXPECT_EQ(find(""), "fw.bIn");
    std::filesystem::remove(dir.Path() / "fw.bIn");
    EXPECT_FALSE(FindFirmwareVariant({dir.Path(), "fw", "bin"}, "bin").has_value());
    // A folder of that name is no firmware.
    std::filesystem::create_directory(dir.Path() / "fw.bin");
    EXPECT_FALSE(FindFirmwareVariant({dir.Path(), "fw", "bin"}, "bin").has_value());
}

}  // namespace
}  // namespace tarvik
