// What the operator is told when a Windows port cannot be opened, and the ports' names there.
// No COM port is opened: under Wine they lead to the machine's own serial ports.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>

#include "serial/PortNames.h"
#include "serial/SerialMessages.h"
#include "serial/WinSerialPort.h"
#include "support/TempDir.h"

namespace tarvik {
namespace {

TEST(WinSerialPort, EachOpenFailureIsToldInTheOperatorsWords) {
    test::TempDir dir;
    const auto file = dir.Write("not-a-port", {1});
    const auto held = dir.Write("held", {1});
    std::ofstream holder(held, std::ios::app);  // any other handle refuses share mode 0
    struct Case {
        std::filesystem::path device;
        std::uint32_t baud;
        int error;
        std::string told;
    };
    const std::vector<Case> cases = {
        {R"(\\.\TARVIK-NO-SUCH-PORT)", 9600, ENOENT, " does not exist."},
        {dir.Path() / "no-folder" / "port", 9600, ENOENT, " does not exist."},
        {held, 9600, EBUSY, " is held by another program."},
        {file, 115200, ENOTTY, " is not a serial port."},
        {file, 1234, EINVAL, ": Invalid argument."},
        {dir.Path() / "a<b", 9600, EIO, {}},  // no errno-style meaning: the system's own words
    };
    WinSerialPortOpener opener(RealClock());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device.string());
        const auto opened = opener.Open(c.device, c.baud);
        EXPECT_FALSE(opened.port);
        EXPECT_EQ(opened.error.error, c.error);
        const std::string& words = opened.error.systemText;
        EXPECT_EQ(words.empty(), !c.told.empty());
        EXPECT_TRUE(words.empty() || std::string(". \r\n").find(words.back()) == std::string::npos)
            << words;
        EXPECT_EQ(PortOpenFailureReason(c.device, opened.error.error, words),
                  c.device.string() + (c.told.empty() ? ": " + words + "." : c.told));
    }
}

TEST(WinSerialPort, ComNIsTheSystemsOwnNameUnlessTheEnvironmentSaysOtherwise) {
    PortNames names([](const std::string& name) -> std::optional<std::string> {
        return name == "TARVIK_COM4" ? std::optional<std::string>(R"(\\.\COM12)") : std::nullopt;
    });
    EXPECT_EQ(names.Resolve(3), std::filesystem::path("COM3"));
    EXPECT_EQ(names.Resolve(4), std::filesystem::path(R"(\\.\COM12)"));
    EXPECT_EQ(names.Resolve(10), std::nullopt);
    EXPECT_EQ(names.ConfigFile(), std::filesystem::path());
}

}  // namespace
}  // namespace tarvik
