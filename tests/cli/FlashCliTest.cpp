// tarvik-flash as a person runs it: exit statuses, what it prints, the trace, Ctrl+C.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <sstream>

#include "cli/FlashOptions.h"
#include "sim/SerialLoaderSim.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace tarvik {
namespace {

using test::ChildProcess;

class FlashCliTest : public ::testing::Test {
protected:
    ChildProcess Start(const std::vector<std::string>& args) {
        return ChildProcess(TARVIK_FLASH, args, m_dir.Path());
    }
    std::string Path(const std::string& name) const { return (m_dir.Path() / name).string(); }

    test::TempDir m_dir;
};

TEST_F(FlashCliTest, HelpVersionAndUsageErrors) {
    auto help = Start({"--help"});
    EXPECT_EQ(help.Wait(), 0);
    EXPECT_EQ(help.Out(), cli::kFlashUsage);
    auto version = Start({"--version"});
    EXPECT_EQ(version.Wait(), 0);
    EXPECT_EQ(version.Out(), "tarvik-flash 2.0.0.0\n");
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"--port", "COM12", "fw.bin"}, {"--nonsense", "fw.bin"}, {"a.bin", "b.bin"}}) {
        auto run = Start(args);
        EXPECT_EQ(run.Wait(), 2);
        EXPECT_NE(run.Err().find("Try 'tarvik-flash --help'."), std::string::npos);
    }
}

TEST_F(FlashCliTest, SimulatedDownloadPrintsStatusProgressAndTheFinalBox) {
    m_dir.Write("fw.bin", test::PatternBytes(5000));
    auto run = Start({"--simulate", "--port", "COM2", Path("fw.bin")});
    ASSERT_EQ(run.Wait(), 0) << run.Err();
    const std::string out = run.Out();
    std::size_t at = 0;
    for (const char* line : {"Simulated serial loader on COM2", "Search Device...\n",
                             " Device Found!\n", "Progressing...\n", "progress 33%\n",
                             "progress 66%\n", "progress 100%\n", "Download Finished!\n"}) {
        at = out.find(line, at);
        EXPECT_NE(at, std::string::npos) << line << " in\n" << out;
    }
    EXPECT_EQ(run.Err(), "Update: Download Finished!\n");
}

TEST_F(FlashCliTest, RealRoadThroughAComPortMappingAndThroughADevicePath) {
    const auto image = test::PatternBytes(3000);
    m_dir.Write("fw.bin", image);
    auto padded = image;
    padded.resize(2 * 2048, 0);
    {
        sim::SerialLoaderSim loader;
        ::setenv("TARVIK_COM4", loader.DevicePath().c_str(), 1);
        auto run = Start({"--port", "COM4", Path("fw.bin")});
        ::unsetenv("TARVIK_COM4");
        ASSERT_EQ(run.Wait(), 0) << run.Err();
        EXPECT_EQ(loader.Flashed(), padded);
        EXPECT_EQ(loader.Errors(), std::vector<std::string>{});
    }
    sim::SerialLoaderSim loader;
    auto run = Start({"--port", loader.DevicePath().string(), Path("fw.bin")});
    ASSERT_EQ(run.Wait(), 0) << run.Err();
    EXPECT_EQ(loader.Flashed(), padded);
    EXPECT_EQ(run.Err(), "Update: Download Finished!\n");
}

TEST_F(FlashCliTest, FailuresPrintEachBoxWithItsCaptionAndExitOne) {
    m_dir.Write("fw.out", test::PatternBytes(100));
    auto notElf = Start({"--simulate", "--port", "COM1", Path("fw.out")});
    EXPECT_EQ(notElf.Wait(), 1);
    EXPECT_EQ(notElf.Err(), "tarvik-flash: This is not a ELF file\nError: File Convert fail!\n");

    m_dir.Write("fw.bin", test::PatternBytes(100));
    auto noPort = Start({"--port", Path("no-such-tty"), Path("fw.bin")});
    EXPECT_EQ(noPort.Wait(), 1);
    EXPECT_EQ(noPort.Err(), "tarvik-flash: Serial Port is unavaible!\n");

    // USB is the default; this machine has no device in boot mode.
    auto usb = Start({Path("fw.bin")});
    EXPECT_EQ(usb.Wait(), 1);
    EXPECT_EQ(usb.Err(), "Prompt: Make sure the Device work under USB-Boot Mode\n");

    auto missing = Start({"--simulate", Path("absent.bin")});
    EXPECT_EQ(missing.Wait(), 1);
    EXPECT_NE(missing.Err().find("absent.bin: No such file"), std::string::npos);
}

TEST_F(FlashCliTest, TraceHoldsEveryOpenCloseAndByteInOrder) {
    m_dir.Write("fw.bin", test::PatternBytes(100));
    auto run = Start({"--simulate", "--port", "COM1", "--trace", Path("wire.log"), Path("fw.bin")});
    ASSERT_EQ(run.Wait(), 0) << run.Err();
    std::ifstream in(Path("wire.log"));
    std::vector<std::string> kinds;
    std::string line;
    std::string all;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string ms;
        std::string kind;
        words >> ms >> kind;
        EXPECT_NO_THROW(std::stod(ms)) << line;
        all += kind + " " + line.substr(line.find(kind) + kind.size() + 1) + "\n";
    }
    std::size_t at = 0;
    for (const char* expected :
         {"open ", " 9600\n", "tx A2", "tx A2", "close ", "open ", " 115200\n", "tx A5", "rx 5A",
          "tx 55 43 4C 52 55\n", "rx 55 35 55\n", "tx 55 46 4C 48 55\n", "tx 00 00 ",
          "tx 55 52 42 54 55\n", "close "}) {
        at = all.find(expected, at);
        ASSERT_NE(at, std::string::npos) << expected << " in\n" << all;
    }
}

TEST_F(FlashCliTest, UsbRoadAgainstTheSimulatedLoaderWithOneTraceLinePerReport) {
    m_dir.Write("fw.bin", test::PatternBytes(3000));
    auto run = Start({"--simulate", "--port", "usb", "--trace", Path("usb.log"), Path("fw.bin")});
    ASSERT_EQ(run.Wait(), 0) << run.Err();
    EXPECT_NE(run.Out().find("progress 50%\nprogress 100%\n"), std::string::npos) << run.Out();
    EXPECT_EQ(run.Err(), "Update: Download Finished!\n");
    std::ifstream in(Path("usb.log"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line.substr(line.find(' ') + 1));
    }
    ASSERT_GE(lines.size(), 2u + 2 * 42 + 2);
    EXPECT_EQ(lines[0].substr(0, 5), "open ");
    EXPECT_EQ(lines[2].substr(0, 8), "tx 00 B5");
    EXPECT_EQ(lines[2].size(), 3 + 65 * 3 - 1);  // one whole report a line
    EXPECT_EQ(lines[1].substr(0, 5), "open ");   // the read handle, then the write handle
    EXPECT_EQ(lines[3].substr(0, 15), "tx 00 AA 00 08 ");
    std::string ack = "rx 00 00 55 35 55";
    for (int i = 0; i < 60; ++i) {
        ack += " 00";
    }
    EXPECT_NE(std::find(lines.begin(), lines.end(), ack), lines.end());
    EXPECT_EQ(lines.back().substr(0, 6), "close ");
}

TEST_F(FlashCliTest, MaintenanceCommandsByNameWithTheirExitStatus) {
    auto version = Start({"--simulate", "--port", "COM1", "version"});
    EXPECT_EQ(version.Wait(), 0) << version.Err();
    EXPECT_TRUE(version.Err().starts_with("tarvik-flash: ")) << version.Err();
    auto cr02 = Start({"--simulate", "--port", "COM3", "cr02"});
    EXPECT_EQ(cr02.Wait(), 0);
    EXPECT_EQ(cr02.Err(), "tarvik-flash: P0=01,P1=02,P2=0A,P3=FF,P4=00\n");
    auto reset = Start({"--simulate", "--port", "COM1", "reset"});
    EXPECT_EQ(reset.Wait(), 0);
    EXPECT_EQ(reset.Err(), "");
    auto shortId = Start({"--simulate", "--port", "COM1", "cradle-id", "12345"});
    EXPECT_EQ(shortId.Wait(), 1);
    EXPECT_EQ(shortId.Err(), "tarvik-flash: Cradle ID must be 12 digits!\n");
    auto usage = Start({"--port", "COM1", "reset", "now"});
    EXPECT_EQ(usage.Wait(), 2);
}

TEST_F(FlashCliTest, CtrlCEndsADownloadAtItsNextStepWithStatus130) {
    auto run = Start({"--demo", "--trace", Path("wire.log")});
    ASSERT_TRUE(run.WaitForOut("progress 10%")) << run.Out() << run.Err();
    run.Signal(SIGINT);
    EXPECT_EQ(run.Wait(), 130) << run.Out() << run.Err();
    EXPECT_EQ(run.Out().find("Download Finished!"), std::string::npos);
    EXPECT_NE(run.Out().find(" Stop !!"), std::string::npos);
    std::ifstream in(Path("wire.log"));
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text.find("tx 55 52 42 54 55"), std::string::npos);  // never rebooted
    EXPECT_NE(text.rfind("close "), std::string::npos);
}

}  // namespace
}  // namespace tarvik
