#include "serial/PortNames.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/TempDir.h"

namespace tarvik {
namespace {

using Path = std::filesystem::path;

// An environment of our own, with a home folder that holds nothing unless a test puts it there.
class PortNamesTest : public ::testing::Test {
protected:
    PortNames Names() {
        return PortNames([this](const std::string& name) -> std::optional<std::string> {
            const auto it = m_environment.find(name);
            return it == m_environment.end() ? std::nullopt : std::optional(it->second);
        });
    }
    void WriteConfig(const Path& configHome, const std::string& text) {
        std::filesystem::create_directories(configHome / "tarvik");
        std::ofstream(configHome / "tarvik" / "ports.conf") << text;
    }

    test::TempDir m_dir;
    std::map<std::string, std::string> m_environment{{"HOME", m_dir.Path().string()}};
};

TEST_F(PortNamesTest, OverrideBeatsEnvironmentBeatsFileBeatsTtySAndZeroAndTenNameNothing) {
    WriteConfig(m_dir.Path() / ".config",
                "COM1=/dev/ttyUSB1\nCOM2=/dev/ttyUSB2\nCOM3=/dev/ttyUSB3\nCOM10=/dev/ttyUSB9\n");
    m_environment["TARVIK_COM2"] = "/dev/ttyACM2";
    m_environment["TARVIK_COM3"] = "/dev/ttyACM3";
    m_environment["TARVIK_COM4"] = "";
    auto names = Names();
    for (const int n : {0, 3, 10}) {
        names.Override(n, "/dev/pts/" + std::to_string(n));
    }
    EXPECT_EQ(names.Resolve(1), Path("/dev/ttyUSB1")) << "COM10 was read as COM1";
    EXPECT_EQ(names.Resolve(2), Path("/dev/ttyACM2"));
    EXPECT_EQ(names.Resolve(3), Path("/dev/pts/3"));
    EXPECT_EQ(names.Resolve(4), Path("/dev/ttyS3")) << "an empty variable counts as unset";
    EXPECT_EQ(names.Resolve(0), std::nullopt);
    EXPECT_EQ(names.Resolve(10), std::nullopt);
}

TEST_F(PortNamesTest, FileUnderXdgConfigHomeToleratesSpacesCaseCommentsAndUnreadableLines) {
    const Path xdg = m_dir.Path() / "xdg";
    m_environment["XDG_CONFIG_HOME"] = xdg.string();
    WriteConfig(m_dir.Path() / ".config", "COM4=/dev/ttyACM9\n");  // passed over
    WriteConfig(xdg,
                "# bench adapters\n\nCOM1=/dev/ttyUSB0\n  com2 =  /dev/ttyACM1   # the cradle\n"
                "\tCoM3\t=\t/dev/serial/by-id/usb-bench-if00\t\nCOM4\n=/dev/ttyUSB4\nCOM5=\n"
                "COM 6=/dev/ttyUSB6\nCOM7=ttyUSB7\n# COM8=/dev/ttyUSB8\n"
                "COM9=/dev/ttyUSB1\nCOM9=/dev/ttyUSB2\n");
    const auto names = Names();
    EXPECT_EQ(names.ConfigFile(), xdg / "tarvik" / "ports.conf");
    EXPECT_EQ(names.Resolve(1), Path("/dev/ttyUSB0"));
    EXPECT_EQ(names.Resolve(2), Path("/dev/ttyACM1"));
    EXPECT_EQ(names.Resolve(3), Path("/dev/serial/by-id/usb-bench-if00"));
    for (int n = 4; n <= 8; ++n) {
        EXPECT_EQ(names.Resolve(n), Path("/dev/ttyS" + std::to_string(n - 1))) << "COM" << n;
    }
    EXPECT_EQ(names.Resolve(9), Path("/dev/ttyUSB2")) << "the later line wins";
}

}  // namespace
}  // namespace tarvik
