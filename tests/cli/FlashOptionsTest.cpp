// The command line's words: what is accepted, what is a usage error.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/FlashOptions.h"
#include "cli/ParallelFlash.h"

namespace tarvik::cli {
namespace {

using Args = std::vector<std::string>;

// Every option `args` set, in one line, or the usage error.
std::string Parsed(const Args& args) {
    std::string error;
    const auto o = ParseFlashOptions(args, error);
    if (!o) {
        return error;
    }
    std::ostringstream text;
    text << "action " << static_cast<int>(o->action) << " ports";
    for (const std::string& port : o->ports) {
        text << " " << port;
    }
    text << " firmware " << o->firmware.string() << (o->trace ? " trace " + o->trace->string() : "")
         << (o->simulate ? " simulate" : "") << (o->demo ? " demo" : "")
         << (o->quiet ? " quiet" : "") << (o->json ? " json" : "")
         << (o->command ? " command " + *o->command + " " + o->commandText : "");
    return text.str();
}

TEST(FlashOptionsTest, PortsAreUsbComOneToNineOrADevicePath) {
    std::ostringstream read;  // each port's index in the port list, and its device if it has one
    for (const char* port : {"usb", "USB", "COM1", "com9", "/dev/ttyUSB0", "COM0", "COM10", "COM",
                             "lpt1", "ttyS0", ""}) {
        const auto parsed = ParsePort(port);
        const auto device = parsed ? parsed->device : std::nullopt;
        read << (parsed ? std::to_string(parsed->index) : "none") << (device ? "=" : "")
             << (device ? device->string() : "") << " ";
    }
    EXPECT_EQ(read.str(), "0 0 1 9 1=/dev/ttyUSB0 none none none none none none ");
}

TEST(FlashOptionsTest, WhatIsGivenIsKeptInItsOrderAndUsageErrorsSayWhatIsWrong) {
    const std::string oneCommandPort = "a maintenance command goes to one port: give --port once";
    const std::pair<Args, std::string> cases[] = {
        {{"--port", "COM3", "--trace", "t.log", "fw.out"},
         "action 0 ports COM3 firmware fw.out trace t.log"},
        {{"fw.bin"}, "action 0 ports usb firmware fw.bin"},
        {{"--port", "COM1", "--port", "/dev/ttyUSB0", "--port", "usb", "--port", "com2",
          "--simulate", "--quiet", "fw.bin"},
         "action 0 ports COM1 /dev/ttyUSB0 usb com2 firmware fw.bin simulate quiet"},
        {{"--demo", "--port", "COM2"}, "action 0 ports COM2 firmware  simulate demo"},
        {{"--port", "COM1", "--json", "text", "ABCD"},
         "action 0 ports COM1 firmware  json command text ABCD"},
        {{"fw.bin", "--help"}, "action 1 ports firmware "},
        {{"--list"}, "action 3 ports firmware "},
        {{}, "give exactly one FIRMWARE file"},
        {{"a.bin", "b.bin"}, "give exactly one FIRMWARE file"},
        {{"--port"}, "--port needs a value"},
        {{"--port", "COM0", "fw.bin"},
         "unknown port 'COM0': use usb, COM1 to COM9 or a device path"},
        {{"--fast", "fw.bin"}, "unknown option '--fast'"},
        {{"--port", "COM1", "reset", "now"}, "reset takes no argument"},
        {{"--demo", "fw.bin"}, "--demo flashes its own firmware; give no FIRMWARE"},
        {{"--quiet", "--json", "fw.bin"},
         "--quiet and --json do not go together: --json prints every event"},
        {{"--demo", "--port", "COM1", "--port", "COM2"},
         "--demo shows one port: give --port once at most"},
        {{"--port", "COM1", "--port", "COM2", "reset"}, oneCommandPort},
        {{"--port", "COM1", "--port", "COM2", "text", "ABCD"}, oneCommandPort},
        // The same port twice, however it is spelt; paths as written, never resolved.
        {{"--port", "COM3", "--port", "COM1", "--port", "com1", "fw.bin"}, "com1 is given twice"},
        {{"--port", "COM3", "--port", "usb", "--port", "USB", "fw.bin"}, "USB is given twice"},
        {{"--port", "/dev/ttyUSB0", "--port", "/dev/./ttyUSB0", "fw.bin"},
         "/dev/./ttyUSB0 is given twice"},
        {{"--port", "/dev/ttyUSB0", "--port", "/dev/ttyUSB1", "fw.bin"},
         "action 0 ports /dev/ttyUSB0 /dev/ttyUSB1 firmware fw.bin"},
        {{"--port", "COM1", "--port", "/dev/ttyS0", "fw.bin"},
         "action 0 ports COM1 /dev/ttyS0 firmware fw.bin"},
    };
    for (const auto& [args, parsed] : cases) {
        EXPECT_EQ(Parsed(args), parsed) << testing::PrintToString(args);
    }
}

TEST(FlashOptionsTest, EachChildGetsItsPortJsonAndATraceOfItsOwnButNotQuiet) {
    std::string error;
    const auto options = ParseFlashOptions({"--trace", "/tmp/run.log", "--port", "COM1", "--port",
                                            "/dev/ttyUSB0", "--quiet", "--simulate", "fw.out"},
                                           error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(ChildArguments(*options, "/dev/ttyUSB0"),
              (Args{"--port", "/dev/ttyUSB0", "--json", "--simulate", "--trace",
                    "/tmp/run.log._dev_ttyUSB0", "fw.out"}));
    EXPECT_EQ(TraceFileForPort("t.log", "usb"), std::filesystem::path("t.log.usb"));
    EXPECT_EQ(
        ChildArguments(*ParseFlashOptions({"--port", "COM1", "--port", "COM2", "fw.bin"}, error),
                       "COM2"),
        (Args{"--port", "COM2", "--json", "fw.bin"}));
}

}  // namespace
}  // namespace tarvik::cli
