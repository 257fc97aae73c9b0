// The command line's words: what is accepted, what is a usage error.
#include <gtest/gtest.h>

#include "cli/FlashOptions.h"

namespace tarvik::cli {
namespace {

std::optional<FlashOptions> Parse(std::vector<std::string> args, std::string* error = nullptr) {
    std::string text;
    auto options = ParseFlashOptions(args, text);
    if (error) {
        *error = text;
    }
    return options;
}

TEST(FlashOptionsTest, PortsAreUsbComOneToNineOrADevicePath) {
    EXPECT_EQ(ParsePort("usb")->index, 0);
    EXPECT_EQ(ParsePort("USB")->index, 0);
    EXPECT_EQ(ParsePort("COM1")->index, 1);
    EXPECT_EQ(ParsePort("com9")->index, 9);
    const auto path = ParsePort("/dev/ttyUSB0");
    ASSERT_TRUE(path);
    EXPECT_EQ(path->index, 1);
    EXPECT_EQ(path->device, std::filesystem::path("/dev/ttyUSB0"));
    for (const char* bad : {"COM0", "COM10", "COM", "lpt1", "ttyS0", ""}) {
        EXPECT_FALSE(ParsePort(bad)) << bad;
    }
}

TEST(FlashOptionsTest, OneFirmwareAndKnownOptionsOnly) {
    const auto options = Parse({"--port", "COM3", "--trace", "t.log", "fw.out"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->port, "COM3");
    EXPECT_EQ(options->trace, std::filesystem::path("t.log"));
    EXPECT_EQ(options->firmware, std::filesystem::path("fw.out"));
    EXPECT_FALSE(options->simulate);
    EXPECT_EQ(Parse({"fw.bin"})->port, "usb");

    std::string error;
    EXPECT_FALSE(Parse({}, &error));
    EXPECT_EQ(error, "give exactly one FIRMWARE file");
    EXPECT_FALSE(Parse({"a.bin", "b.bin"}));
    EXPECT_FALSE(Parse({"--port"}, &error));
    EXPECT_EQ(error, "--port needs a value");
    EXPECT_FALSE(Parse({"--port", "COM0", "fw.bin"}, &error));
    EXPECT_NE(error.find("unknown port 'COM0'"), std::string::npos);
    EXPECT_FALSE(Parse({"--fast", "fw.bin"}, &error));
    EXPECT_EQ(error, "unknown option '--fast'");
    EXPECT_FALSE(Parse({"--demo", "fw.bin"}));
    EXPECT_TRUE(Parse({"--demo"})->simulate);
    EXPECT_EQ(Parse({"fw.bin", "--help"})->action, FlashOptions::Action::Help);
}

}  // namespace
}  // namespace tarvik::cli
