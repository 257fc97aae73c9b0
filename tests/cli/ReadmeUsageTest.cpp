// The README shows the usage exactly as `tarvik-flash --help` prints it.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "cli/FlashRunFixture.h"

namespace tarvik {
namespace {

using ReadmeUsageTest = test::FlashRunFixture;

TEST_F(ReadmeUsageTest, TheFencedBlockUnderFlashingFromTheCommandLineIsTheHelpText) {
    std::ifstream in(TARVIK_SOURCE_DIR "/README.md");
    ASSERT_TRUE(in) << TARVIK_SOURCE_DIR "/README.md";
    std::stringstream readme;
    readme << in.rdbuf();
    const std::string text = readme.str();

    const std::string heading = "\n## Flashing from the command line\n";
    const std::size_t section = text.find(heading);
    ASSERT_NE(section, std::string::npos);
    const std::size_t fence = text.find("\n```\n", section + 1);
    ASSERT_NE(fence, std::string::npos);
    ASSERT_LT(fence, text.find("\n## ", section + 1)) << "no fenced block in the section";
    const std::size_t start = fence + 5;
    const std::size_t end = text.find("\n```\n", start);
    ASSERT_NE(end, std::string::npos);
    const std::string block = text.substr(start, end + 1 - start);

    auto help = Start({"--help"});
    ASSERT_EQ(help.Wait(), 0);
    EXPECT_EQ(block, help.Out());
}

}  // namespace
}  // namespace tarvik
