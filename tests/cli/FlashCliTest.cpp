// tarvik-flash as a person runs it: exit statuses, what it prints, the trace, Ctrl+C.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include <thread>

#include "app/UpdaterDlg.h"
#include "cli/FlashOptions.h"
#include "cli/FlashRunFixture.h"
#include "cli/InterruptWatch.h"
#include "ports/PortListing.h"
#include "serial/PortNames.h"
#include "sim/SerialLoaderSim.h"
#include "support/RecordingView.h"

namespace tarvik {
namespace {

using FlashCliTest = test::FlashRunFixture;

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
    for (const char* line :
         {"Simulated serial loader on COM2", "Search Device...\n", " Device Found!\n",
          "Progressing...\n", "progress 33%\n", "progress 66%\n", "progress 100%\n",
          "Download Finished!\n", "\n6144 bytes in "}) {
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
        auto run = Start({"--port", "COM4", Path("fw.bin")},
                         {"TARVIK_COM4=" + loader.DevicePath().string()});
        ASSERT_EQ(run.Wait(), 0) << run.Err();
        EXPECT_EQ(loader.Flashed(), padded);
        EXPECT_EQ(loader.Errors(), std::vector<std::string>{});
    }
    // A device path is opened as given, --simulate or not: no simulator goes in front of
    // this test's own.
    sim::SerialLoaderSim loader;
    auto run = Start({"--simulate", "--port", loader.DevicePath().string(), Path("fw.bin")});
    ASSERT_EQ(run.Wait(), 0) << run.Err();
    EXPECT_EQ(loader.Flashed(), padded);
    EXPECT_TRUE(loader.Rebooted());
    EXPECT_EQ(run.Out().find("Simulated serial loader"), std::string::npos) << run.Out();
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
    // The box's first line; a line with the system's reason may follow.
    EXPECT_TRUE(noPort.Err().starts_with("tarvik-flash: Serial Port is unavaible!\n"))
        << noPort.Err();

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
    // Each byte as "tx:55 " or "rx:55 ": the loader takes one byte a write, and a loaded
    // machine may split a burst across lines, so the order of the bytes is what is checked.
    std::ifstream in(Path("wire.log"));
    std::string all;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string ms;
        std::string kind;
        words >> ms >> kind;
        EXPECT_NO_THROW(std::stod(ms)) << line;
        if (kind == "tx" || kind == "rx") {
            for (std::string byte; words >> byte;) {
                all += kind + ":" + byte + " ";
            }
        } else {
            all += "\n" + line.substr(line.find(kind)) + "\n";
        }
    }
    const auto bytes = [](const std::string& kind, const std::string& hex) {
        std::istringstream words(hex);
        std::string tokens;
        for (std::string byte; words >> byte;) {
            tokens += kind + ":" + byte + " ";
        }
        return tokens;
    };
    std::size_t at = 0;
    for (const std::string& expected :
         {std::string("open "), std::string(" 9600\n"), bytes("tx", "A2"), bytes("tx", "A2"),
          std::string("close "), std::string("open "), std::string(" 115200\n"), bytes("tx", "A5"),
          bytes("rx", "5A"), bytes("tx", "55 43 4C 52 55"), bytes("rx", "55 35 55"),
          bytes("tx", "55 46 4C 48 55"), bytes("tx", "00 00"), bytes("rx", "55 35 55"),
          bytes("tx", "55 52 42 54 55"), std::string("close ")}) {
        at = all.find(expected, at);
        ASSERT_NE(at, std::string::npos) << expected << " in\n" << all;
        at += expected.size();
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

TEST_F(FlashCliTest, CtrlCEndsADownloadWithStatus130EvenOnAHeldLine) {
    for (const bool held : {false, true}) {
        SCOPED_TRACE(held ? "line held under a block's write" : "demo");
        sim::SerialLoaderOptions options;
        options.faults[1] = {sim::FaultKind::StallLine, {}, {}};
        sim::SerialLoaderSim loader(options);
        m_dir.Write("fw.bin", test::PatternBytes(5000));
        auto run = held ? Start({"--port", loader.DevicePath().string(), "--trace",
                                 Path("held.log"), Path("fw.bin")})
                        : Start({"--demo", "--trace", Path("demo.log")});
        if (held) {
            ASSERT_TRUE(loader.WaitForLog("UFLHU"));
            std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the write blocks
        } else {
            ASSERT_TRUE(run.WaitForOut("progress 10%")) << run.Out() << run.Err();
        }
        run.Signal(SIGINT);
        EXPECT_EQ(run.Wait(std::chrono::seconds(20)), 130) << run.Out() << run.Err();
        EXPECT_EQ(run.Out().find("Download Finished!"), std::string::npos);
        EXPECT_NE(run.Out().find(" Stop !!"), std::string::npos);
        EXPECT_EQ(run.Err(), "");  // no failure: the port was let go on purpose
        std::ifstream in(Path(held ? "held.log" : "demo.log"));
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text.find("tx 55 52 42 54 55"), std::string::npos);  // never rebooted
        EXPECT_NE(text.find("abort "), std::string::npos);             // dropped, not drained
        if (held) {
            EXPECT_EQ(loader.Log().back(), "UFLHU");
        }
    }
}

TEST_F(FlashCliTest, AnImageThatCannotBeSentTouchesNoDevice) {
    std::filesystem::create_directory(m_dir.Path() / "dir.bin");
    m_dir.Write("empty.bin", {});
    for (const char* port : {"COM1", "usb"}) {
        for (const char* name : {"dir.bin", "empty.bin"}) {
            SCOPED_TRACE(std::string(port) + " " + name);
            std::filesystem::remove(Path("wire.log"));
            auto run =
                Start({"--simulate", "--port", port, "--trace", Path("wire.log"), Path(name)});
            EXPECT_EQ(run.Wait(), 1);
            EXPECT_NE(run.Err().find("Error: "), std::string::npos) << run.Err();
            EXPECT_NE(run.Err().find(name), std::string::npos) << run.Err();
            std::ifstream in(Path("wire.log"));
            std::string text((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
            EXPECT_EQ(text, "") << "a device was opened";
        }
    }
}

TEST(InterruptWatchTest, ASecondCtrlCEndsTheProcessAtOnceWith130) {
    EXPECT_EXIT(
        {
            cli::BlockInterrupt();
            test::RecordingView view;
            CUpdaterDlg dlg(view, RealClock(), "t");
            cli::InterruptWatch watch(dlg);
            ::kill(::getpid(), SIGINT);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            ::kill(::getpid(), SIGINT);
            std::this_thread::sleep_for(std::chrono::seconds(30));
            std::exit(watch.Interrupted() ? 0 : 1);
        },
        ::testing::ExitedWithCode(130), "");
}

TEST_F(FlashCliTest, JsonPrintsOnlyValidEventLinesInOrderAndTheResultLast) {
    m_dir.Write("fw.bin", test::PatternBytes(5000));
    auto run = Start({"--json", "--simulate", "--port", "COM1", Path("fw.bin")});
    ASSERT_EQ(run.Wait(), 0) << run.Err();
    EXPECT_EQ(run.Err(), "");
    const auto events = JsonLines(run.Out());
    ASSERT_FALSE(events.empty());
    std::vector<std::string> statuses;
    std::vector<std::vector<int>> progress;  // percent, then block, blocks and bytes if given
    for (const auto& event : events) {
        EXPECT_EQ(event.at("port"), "COM1");
        if (event.at("event") == "status") {
            statuses.push_back(event.at("text"));
        } else if (event.at("event") == "progress") {
            progress.push_back({event.at("percent"), event.value("block", -1),
                                event.value("blocks", -1), event.value("bytes", -1)});
        }
    }
    EXPECT_EQ(statuses, (std::vector<std::string>{"Search Device...", " Device Found!",
                                                  "Progressing...", "Download Finished!"}));
    // One event a block, in the order acknowledged (block 0 goes last and moves no bar);
    // the percent alone at the start and the end.
    EXPECT_EQ(progress, (std::vector<std::vector<int>>{{0, -1, -1, -1},
                                                       {33, 1, 3, 2048},
                                                       {66, 2, 3, 4096},
                                                       {66, 3, 3, 6144},
                                                       {100, -1, -1, -1}}));
    const auto messages = Events(events, "message");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].at("caption"), "Update");
    EXPECT_EQ(messages[0].at("text"), "Download Finished!");
    EXPECT_EQ(messages[0].at("icon"), "none");
    const auto& last = events.back();
    EXPECT_EQ(last.at("event"), "result");
    EXPECT_EQ(last.at("result"), "succeeded");
    EXPECT_EQ(last.at("exit"), 0);
    EXPECT_GT(last.at("seconds").get<double>(), 0);
    EXPECT_EQ(last.at("bytes"), 6144);
    EXPECT_EQ(Events(events, "result").size(), 1u);
}

TEST_F(FlashCliTest, JsonFailuresAreMessagesAndTheResultCarriesTheExitStatus) {
    m_dir.Write("fw.bin", test::PatternBytes(100));
    auto noPort = Start({"--json", "--port", Path("no-such-tty"), Path("fw.bin")});
    EXPECT_EQ(noPort.Wait(), 1);
    EXPECT_EQ(noPort.Err(), "");
    auto events = JsonLines(noPort.Out());
    auto messages = Events(events, "message");
    ASSERT_EQ(messages.size(), 1u) << noPort.Out();
    EXPECT_TRUE(messages[0].value("text", "").starts_with("Serial Port is unavaible!"));
    EXPECT_EQ(messages[0].at("port"), Path("no-such-tty"));
    EXPECT_EQ(messages[0].at("icon"), "hand");
    EXPECT_EQ(events.back().at("result"), "failed");
    EXPECT_EQ(events.back().at("exit"), 1);
    EXPECT_EQ(events.back().at("bytes"), 0);

    auto missing = Start({"--json", "--simulate", "--port", "usb", Path("absent.bin")});
    EXPECT_EQ(missing.Wait(), 1);
    EXPECT_EQ(missing.Err(), "");
    events = JsonLines(missing.Out());
    ASSERT_EQ(events.size(), 2u) << missing.Out();  // no note about the simulator
    EXPECT_EQ(events[0].at("caption"), "tarvik-flash");
    EXPECT_EQ(events[0].at("text"), Path("absent.bin") + ": No such file");
    EXPECT_EQ(events[1].at("result"), "failed");

    // Usage errors stay text on the error stream.
    auto usage = Start({"--json", "--port", "COM1", "--port", "com1", "fw.bin"});
    EXPECT_EQ(usage.Wait(), 2);
    EXPECT_EQ(usage.Out(), "");
    EXPECT_EQ(usage.Err(), "tarvik-flash: com1 is given twice\nTry 'tarvik-flash --help'.\n");
}

TEST_F(FlashCliTest, JsonForMaintenanceCommandsAndTheDemoEndsWithTheirResult) {
    auto cr02 = Start({"--json", "--simulate", "--port", "COM3", "cr02"});
    EXPECT_EQ(cr02.Wait(), 0);
    EXPECT_EQ(cr02.Err(), "");
    auto events = JsonLines(cr02.Out());
    ASSERT_EQ(events.size(), 2u) << cr02.Out();
    EXPECT_EQ(events[0].at("text"), "P0=01,P1=02,P2=0A,P3=FF,P4=00");
    EXPECT_EQ(events[0].at("port"), "COM3");
    EXPECT_EQ(events[1].at("result"), "succeeded");

    auto shortId = Start({"--json", "--simulate", "--port", "COM1", "cradle-id", "12345"});
    EXPECT_EQ(shortId.Wait(), 1);
    events = JsonLines(shortId.Out());
    ASSERT_EQ(events.size(), 2u) << shortId.Out();
    EXPECT_EQ(events[0].at("text"), "Cradle ID must be 12 digits!");
    EXPECT_EQ(events[1].at("result"), "failed");
    EXPECT_EQ(events[1].at("exit"), 1);

    // The demo's serial road is named as it runs; Ctrl+C ends it with its own result.
    auto demo = Start({"--json", "--demo"});
    ASSERT_TRUE(demo.WaitForOut(R"("percent":10)")) << demo.Out() << demo.Err();
    demo.Signal(SIGINT);
    EXPECT_EQ(demo.Wait(), 130);
    EXPECT_EQ(demo.Err(), "");
    events = JsonLines(demo.Out());
    ASSERT_FALSE(events.empty());
    for (const auto& event : events) {
        EXPECT_EQ(event.at("port"), "COM1");
    }
    EXPECT_EQ(events.back().at("result"), "interrupted");
    EXPECT_EQ(events.back().at("exit"), 130);
    EXPECT_EQ(Events(events, "status").back().at("text"), " Stop !!");
}

TEST_F(FlashCliTest, QuietPrintsNothingOnSuccessAndOnlyTheFailureOtherwise) {
    m_dir.Write("fw.bin", test::PatternBytes(3000));
    auto ok = Start({"--quiet", "--simulate", "--port", "COM2", Path("fw.bin")});
    EXPECT_EQ(ok.Wait(), 0);
    EXPECT_EQ(ok.Out(), "");
    EXPECT_EQ(ok.Err(), "");

    sim::SerialLoaderOptions options;
    options.faults[2] = {sim::FaultKind::WrongReply, {'N', 'A', 'K'}, {}};
    sim::SerialLoaderSim loader(options);
    auto refused = Start({"--quiet", "--port", loader.DevicePath().string(), Path("fw.bin")});
    EXPECT_EQ(refused.Wait(), 1);
    EXPECT_EQ(refused.Out(), "");
    EXPECT_EQ(refused.Err(), "tarvik-flash: N,A,K\ndata: NO Ack 2!\n");
}

TEST_F(FlashCliTest, ListPrintsThisMachinesPortsFromSysfsAndOpensNoDevice) {
    // The same listing as the library gives for the fixture's COMn paths.
    const PortNames names([this](const std::string& name) -> std::optional<std::string> {
        if (name.starts_with("TARVIK_COM")) {
            return Path("no-device-com" + name.substr(10));
        }
        return std::nullopt;
    });
    auto list = Start({"--list"});
    ASSERT_EQ(list.Wait(), 0) << list.Err();
    EXPECT_EQ(list.Out(), ports::FormatPortListing(ports::ListPorts({}, names)));
    EXPECT_NE(list.Out().find("COM9 -> " + Path("no-device-com9") + " (does not exist)"),
              std::string::npos)
        << list.Out();

    // Every file the program and its libraries open, followed through strace: none is a
    // device node. (LeakSanitizer cannot run under ptrace; the run above checked leaks.)
    const std::string trace = Path("opens.txt");
    test::ChildProcess traced(
        "/usr/bin/strace",
        {"-f", "-qq", "-e", "trace=open,openat,openat2,creat", "-o", trace, TARVIK_FLASH, "--list"},
        m_dir.Path(), {"ASAN_OPTIONS=detect_leaks=0"});
    const int traceStatus = traced.Wait();
    if (traceStatus != 0 && traced.Err().find("ptrace") != std::string::npos) {
        // A container that forbids ptrace: the listing itself was checked above.
        GTEST_SKIP() << "strace cannot trace here: " << traced.Err();
    }
    ASSERT_EQ(traceStatus, 0) << traced.Err();
    std::ifstream opens(trace);
    std::string line;
    int lines = 0;
    while (std::getline(opens, line)) {
        ++lines;
        EXPECT_EQ(line.find("\"/dev/"), std::string::npos) << line;
    }
    EXPECT_GT(lines, 0);  // the program's own libraries at least: strace saw the opens
}

}  // namespace
}  // namespace tarvik
