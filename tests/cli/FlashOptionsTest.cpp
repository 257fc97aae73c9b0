// The command line's words: what is accepted, what is a usage error.
#include <gtest/gtest.h>

#include "cli/FlashOptions.h"
#include "cli/ParallelFlash.h"

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
    EXPECT_EQ(options->ports, std::vector<std::string>{"COM3"});
    EXPECT_EQ(options->trace, std::filesystem::path("t.log"));
    EXPECT_EQ(options->firmware, std::filesystem::path("fw.out"));
    EXPECT_FALSE(options->simulate);
    EXPECT_EQ(Parse({"fw.bin"})->ports, std::vector<std::string>{"usb"});

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

TEST(FlashOptionsTest, SeveralPortsInTheirOrderEachOnlyOnce) {
    const auto options = Parse({"--port", "COM1", "--port", "/dev/ttyUSB0", "--port", "usb",
                                "--port", "com2", "--simulate", "fw.bin"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->ports, (std::vector<std::string>{"COM1", "/dev/ttyUSB0", "usb", "com2"}));
    std::string error;
    for (const auto& [first, second] :
         std::vector<std::pair<std::string, std::string>>{{"COM1", "COM1"},
                                                          {"COM1", "com1"},
                                                          {"usb", "USB"},
                                                          {"/dev/ttyUSB0", "/dev/./ttyUSB0"},
                                                          {"/dev/ttyUSB0", "/dev/ttyUSB0"}}) {
        EXPECT_FALSE(
            Parse({"--port", "COM3", "--port", first, "--port", second, "fw.bin"}, &error));
        EXPECT_EQ(error, second + " is given twice");
    }
    EXPECT_TRUE(Parse({"--port", "/dev/ttyUSB0", "--port", "/dev/ttyUSB1", "fw.bin"}));
    EXPECT_TRUE(Parse({"--port", "COM1", "--port", "/dev/ttyS0", "fw.bin"}));  // not resolved
}

TEST(FlashOptionsTest, QuietAndJsonExcludeEachOtherAndSeveralPortsFlashOnly) {
    EXPECT_TRUE(Parse({"--quiet", "fw.bin"})->quiet);
    EXPECT_TRUE(Parse({"--json", "fw.bin"})->json);
    std::string error;
    EXPECT_FALSE(Parse({"--quiet", "--json", "fw.bin"}, &error));
    EXPECT_EQ(error, "--quiet and --json do not go together: --json prints every event");

    EXPECT_FALSE(Parse({"--demo", "--port", "COM1", "--port", "COM2"}, &error));
    EXPECT_EQ(error, "--demo shows one port: give --port once at most");
    EXPECT_TRUE(Parse({"--demo", "--port", "COM2"}));
    EXPECT_FALSE(Parse({"--port", "COM1", "--port", "COM2", "reset"}, &error));
    EXPECT_EQ(error, "a maintenance command goes to one port: give --port once");
    EXPECT_FALSE(Parse({"--port", "COM1", "--port", "COM2", "text", "ABCD"}, &error));
    EXPECT_EQ(error, "a maintenance command goes to one port: give --port once");
    EXPECT_EQ(Parse({"--port", "COM1", "--json", "text", "ABCD"})->commandText, "ABCD");
    EXPECT_EQ(Parse({"--list"})->action, FlashOptions::Action::List);
}

TEST(FlashOptionsTest, EachChildGetsItsPortJsonAndATraceOfItsOwn) {
    const auto options = Parse({"--trace", "/tmp/run.log", "--port", "COM1", "--port",
                                "/dev/ttyUSB0", "--quiet", "--simulate", "images/fw.out"});
    ASSERT_TRUE(options);
    EXPECT_EQ(ChildArguments(*options, "/dev/ttyUSB0"),
              (std::vector<std::string>{"--port", "/dev/ttyUSB0", "--json", "--simulate", "--trace",
                                        "/tmp/run.log._dev_ttyUSB0", "images/fw.out"}));
    EXPECT_EQ(TraceFileForPort("t.log", "COM1"), std::filesystem::path("t.log.COM1"));
    EXPECT_EQ(TraceFileForPort("t.log", "usb"), std::filesystem::path("t.log.usb"));
    // What the child is given parses as one port with JSON, nothing else changed.
    const auto child = Parse(ChildArguments(*options, "COM1"));
    ASSERT_TRUE(child);
    EXPECT_EQ(child->ports, std::vector<std::string>{"COM1"});
    EXPECT_TRUE(child->json);
    EXPECT_FALSE(child->quiet);
    EXPECT_TRUE(child->simulate);
    EXPECT_EQ(child->trace, std::filesystem::path("/tmp/run.log.COM1"));
    EXPECT_EQ(child->firmware, std::filesystem::path("images/fw.out"));
    const auto plain = Parse({"--port", "COM1", "--port", "COM2", "fw.bin"});
    EXPECT_EQ(ChildArguments(*plain, "COM2"),
              (std::vector<std::string>{"--port", "COM2", "--json", "fw.bin"}));
}

}  // namespace
}  // namespace tarvik::cli
