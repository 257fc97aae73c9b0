// tarvik-flash as a person runs it: exit statuses, what it prints, the trace, Ctrl+C.
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <thread>

#include "app/UpdaterDlg.h"
#include "cli/FlashRunFixture.h"
#include "cli/InterruptWatch.h"
#include "ports/PortListing.h"
#include "serial/PortNames.h"
#include "sim/HexText.h"
#include "sim/SerialLoaderSim.h"
#include "support/RecordingView.h"
#include "support/TraceLines.h"

namespace tarvik {
namespace {

using namespace test;
using namespace std::string_literals;
constexpr auto npos = std::string::npos;

class FlashCliTest : public FlashRunFixture {
protected:
    // A command that flashes nothing, as text (with a trace), with --quiet and as JSON.
    void ExpectCommand(const Strings& args, int exit, const std::string& boxes) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const std::string port = *(std::find(args.begin(), args.end(), "--port") + 1);
        const auto with = [&](Strings front) {
            front.insert(front.end(), args.begin(), args.end());
            return front;
        };
        std::filesystem::remove(Path("wire.log"));
        const Ran plain = Run(with({"--trace", Path("wire.log")}));
        EXPECT_EQ(plain.exit, exit);
        EXPECT_EQ(plain.err, boxes);
        if (args[0] == "--simulate") {
            EXPECT_TRUE(plain.out.starts_with(port == "usb"
                                                  ? "Simulated USB loader: no device is touched.\n"
                                                  : "Simulated serial loader on " + port + " ("))
                << plain.out;
            if (args.back().starts_with("/")) {  // a firmware that cannot be sent
                EXPECT_EQ(FileText(Path("wire.log")), "") << "a device was opened";
            }
        }
        EXPECT_EQ(Run(with({"--quiet"})), (Ran{exit, "", exit ? boxes : ""}));

        const Ran json = Run(with({"--json"}));
        const auto events = JsonLines(json.out);
        std::string shown;  // every event but the last is a box: as the text shows it
        for (std::size_t i = 0; i + 1 < events.size(); ++i) {
            EXPECT_EQ(events[i].at("port"), port);
            shown += events[i].at("caption").get<std::string>() + ": " +
                     events[i].at("text").get<std::string>() + "\n";
        }
        const std::string result = R"({"event":"result","port":")" + port + R"(","result":")" +
                                   (exit ? "failed" : "succeeded") + R"(","exit":)" +
                                   std::to_string(exit) + R"(,"seconds":#,"bytes":0})" + "\n";
        shown += Timeless(json.out.substr(json.out.rfind('{')));
        EXPECT_EQ((Ran{json.exit, shown, json.err}), (Ran{exit, boxes + result, ""}));
    }
};
using ReadmeUsageTest = FlashRunFixture;

TEST_F(ReadmeUsageTest, HelpIsTheReadmesBlockAndVersionAndUsageErrorsExitTwo) {
    const std::string readme = FileText(TARVIK_SOURCE_DIR "/README.md");
    const std::size_t section = readme.find("\n## Flashing from the command line\n");
    ASSERT_NE(section, npos) << readme;
    const std::size_t start = readme.find("\n```\n", section + 1) + 5;
    ASSERT_LT(start - 5, readme.find("\n## ", section + 1)) << "no fenced block in the section";
    const std::size_t end = readme.find("\n```\n", start);
    ASSERT_NE(end, npos);
    EXPECT_EQ(Run({"--help"}), (Ran{0, readme.substr(start, end + 1 - start), ""}));
    EXPECT_EQ(Run({"--version"}), (Ran{0, "tarvik-flash 2.0.0.0\n", ""}));
    const std::string tryHelp = "\nTry 'tarvik-flash --help'.\n";
    EXPECT_EQ(Run({}), (Ran{2, "", "tarvik-flash: give exactly one FIRMWARE file" + tryHelp}));
    // Text on the error stream, --json or not.
    EXPECT_EQ(Run({"--json", "--port", "COM1", "--port", "com1", "fw.bin"}),
              (Ran{2, "", "tarvik-flash: com1 is given twice" + tryHelp}));
}

TEST_F(FlashCliTest, CommandsThatFlashNothingShowTheirBoxesAndExitStatusInEveryForm) {
    m_dir.Write("fw.out", PatternBytes(100));
    m_dir.Write("fw.bin", PatternBytes(100));
    m_dir.Write("empty.bin", {});
    std::filesystem::create_directory(m_dir.Path() / "dir.bin");
    ExpectCommand({"--simulate", "--port", "COM1", Path("fw.out")}, 1,
                  "tarvik-flash: This is not a ELF file\nError: File Convert fail!\n");
    for (const std::string port : {"COM1", "usb"}) {
        ExpectCommand(
            {"--simulate", "--port", port, Path("dir.bin")}, 1,
            "Error: Cannot open firmware image " + Path("dir.bin") + ": Is a directory.\n");
        ExpectCommand(
            {"--simulate", "--port", port, Path("empty.bin")}, 1,
            "Error: The firmware image " + Path("empty.bin") + " is empty; nothing was sent.\n");
    }
    ExpectCommand({"--simulate", "--port", "usb", Path("absent.bin")}, 1,
                  "tarvik-flash: " + Path("absent.bin") + ": No such file\n");
    ExpectCommand({"--simulate", "--port", "COM3", "cr02"}, 0,
                  "tarvik-flash: P0=01,P1=02,P2=0A,P3=FF,P4=00\n");
    ExpectCommand({"--simulate", "--port", "COM1", "version"}, 0,
                  "tarvik-flash: TARVIK LOADER 2.0.0\n");
    ExpectCommand({"--simulate", "--port", "COM1", "reset"}, 0, "");
    ExpectCommand({"--simulate", "--port", "COM1", "cradle-id", "12345"}, 1,
                  "tarvik-flash: Cradle ID must be 12 digits!\n");
    ExpectCommand(
        {"--port", Path("no-such-tty"), Path("fw.bin")}, 1,
        "tarvik-flash: Serial Port is unavaible!\n" + Path("no-such-tty") + " does not exist.\n");
    // No device in boot mode on this machine.
    ExpectCommand({"--port", "usb", Path("fw.bin")}, 1,
                  "Prompt: Make sure the Device work under USB-Boot Mode\n");
}

TEST_F(FlashCliTest, SerialDownloadAsJsonAndItsTraceWithEveryOpenCloseAndByteInOrder) {
    m_dir.Write("fw.bin", PatternBytes(5000));
    const Ran run = Run(
        {"--json", "--simulate", "--port", "COM1", "--trace", Path("wire.log"), Path("fw.bin")});
    // A block an event, in the order acknowledged: 1, 2, then 0, which moves no bar.
    EXPECT_EQ(Timeless(run.out), R"({"event":"progress","port":"COM1","percent":0}
{"event":"status","port":"COM1","text":"Search Device..."}
{"event":"status","port":"COM1","text":" Device Found!"}
{"event":"status","port":"COM1","text":"Progressing..."}
{"event":"progress","port":"COM1","percent":33,"block":1,"blocks":3,"bytes":2048}
{"event":"progress","port":"COM1","percent":66,"block":2,"blocks":3,"bytes":4096}
{"event":"progress","port":"COM1","percent":66,"block":3,"blocks":3,"bytes":6144}
{"event":"progress","port":"COM1","percent":100}
{"event":"status","port":"COM1","text":"Download Finished!"}
{"event":"message","port":"COM1","caption":"Update","text":"Download Finished!","icon":"none"}
{"event":"result","port":"COM1","result":"succeeded","exit":0,"seconds":#,"bytes":6144}
)");
    EXPECT_EQ(run.exit + run.err.size(), 0u) << run.err;

    // The trace with the lines of one burst joined, however a loaded machine split it.
    std::string all, last;
    for (const std::string& line : TraceLines(Path("wire.log"))) {
        const std::string kind = line.substr(0, line.find(' '));
        const bool bytes = kind == "tx" || kind == "rx";
        EXPECT_TRUE(bytes || kind == "open" || kind == "close") << line;  // or a bad time stamp
        all += bytes && kind == last ? line.substr(2) : "\n" + line;
        last = kind;
    }
    all += "\n";
    const std::string ack = "\nrx 55 35 55\n";
    std::size_t at = 0;  // each piece after the one before
    for (const std::string& piece :
         {"\nopen "s, " 9600\ntx A2 A2\nclose "s, "\nopen "s, " 115200\ntx A5"s,
          "\nrx 5A\ntx 55 43 4C 52 55" + ack + "tx 55 46 4C 48 55" + ack + "tx 00 08 ",
          ack + "tx 00 10 ", ack + "tx 00 00 ", ack + "tx 55 52 42 54 55\nclose "}) {
        at = all.find(piece, at);
        ASSERT_NE(at, npos) << piece << " in\n" << all;
        at += piece.size();
    }
}

TEST_F(FlashCliTest, UsbDownloadOnATerminalWithOneTraceLinePerReport) {
    m_dir.Write("fw.bin", PatternBytes(3000));
    const Ran run =
        Run({"--simulate", "--port", "usb", "--trace", Path("usb.log"), Path("fw.bin")});
    EXPECT_EQ(Timeless(run.out),
              "Simulated USB loader: no device is touched.\nprogress 0%\nProgressing...\n"
              "progress 50%\nprogress 100%\nDownload Finished!\n4096 bytes in # s (# KiB/s)\n");
    EXPECT_EQ(run.err, "Update: Download Finished!\n");
    // The read handle, then the write handle; one whole report a line.
    const auto lines = TraceLines(Path("usb.log"));
    ASSERT_GE(lines.size(), 2u + 2 * 42 + 2);
    EXPECT_EQ(lines[2].size(), 3 + 65 * 3 - 1);
    EXPECT_EQ((Strings{lines[0].substr(0, 5), lines[1].substr(0, 5), lines[2].substr(0, 8),
                       lines[3].substr(0, 15), lines.back().substr(0, 6)}),
              (Strings{"open ", "open ", "tx 00 B5", "tx 00 AA 00 08 ", "close "}));
    std::vector<std::uint8_t> ack = {0, 0, 0x55, 0x35, 0x55};  // a whole report
    ack.resize(65, 0);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "rx " + sim::HexBytes(ack)), lines.end());
}

// The held line is reached through a COMn mapping, as a person names the port.
TEST_F(FlashCliTest, CtrlCEndsADownloadWith130AndSendsNothingMoreEvenOnAHeldLine) {
    m_dir.Write("fw.bin", PatternBytes(5000));
    for (const bool held : {false, true}) {
        SCOPED_TRACE(held ? "line held under a block's write" : "demo");
        sim::SerialLoaderOptions options;
        options.faults[1] = {sim::FaultKind::StallLine, {}, {}};
        sim::SerialLoaderSim loader(options);
        std::filesystem::remove(Path("wire.log"));
        auto run = held ? Start({"--port", "COM4", "--trace", Path("wire.log"), Path("fw.bin")},
                                {"TARVIK_COM4=" + loader.DevicePath().string()})
                        : Start({"--json", "--demo", "--trace", Path("wire.log")});
        if (held) {
            ASSERT_TRUE(loader.WaitForLog("UFLHU"));
            std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the write blocks
        } else {
            ASSERT_TRUE(run.WaitForOut(R"("percent":10)")) << run.Out() << run.Err();
        }
        run.Signal(SIGINT);
        EXPECT_EQ(run.Wait(std::chrono::seconds(20)), 130) << run.Out() << run.Err();
        EXPECT_EQ(run.Out().find("Download Finished!"), npos);
        EXPECT_NE(run.Out().find(" Stop !!"), npos);
        EXPECT_EQ(run.Err(), "");  // no failure: the port was let go on purpose
        const std::string trace = FileText(Path("wire.log"));
        EXPECT_EQ(trace.find("tx 55 52 42 54 55"), npos);  // never rebooted
        EXPECT_NE(trace.find("abort "), npos);             // dropped, not drained
        if (held) {
            EXPECT_EQ(loader.Log().back(), "UFLHU");
            continue;
        }
        // The demo's serial road is named as it runs, and it ends with a result of its own.
        const auto events = JsonLines(run.Out());
        for (const auto& event : events) {
            EXPECT_EQ(event.at("port"), "COM1");
            EXPECT_NE(event.at("event"), "message");
        }
        EXPECT_EQ(Events(events, "status").back().at("text"), " Stop !!");
        EXPECT_EQ(events.back().at("result"), "interrupted");
        EXPECT_EQ(events.back().at("exit"), 130);
    }
}

TEST(InterruptWatchTest, ASecondCtrlCEndsTheProcessAtOnceWith130) {
    EXPECT_EXIT(
        {
            cli::BlockInterrupt();
            RecordingView view;
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

TEST_F(FlashCliTest, ListPrintsThisMachinesPortsFromSysfsAndOpensNoDevice) {
    // The same listing as the library gives for the fixture's COMn paths.
    const PortNames names([this](const std::string& name) -> std::optional<std::string> {
        return name.starts_with("TARVIK_COM")
                   ? std::optional(Path("no-device-com" + name.substr(10)))
                   : std::nullopt;
    });
    const Ran list = Run({"--list"});
    EXPECT_EQ(list, (Ran{0, ports::FormatPortListing(ports::ListPorts({}, names)), ""}));
    EXPECT_NE(list.out.find("COM9 -> " + Path("no-device-com9") + " (does not exist)"), npos);

    // Every file the program and its libraries open, followed through strace: none is a
    // device node. (LeakSanitizer cannot run under ptrace; the run above checked leaks.)
    ChildProcess traced("/usr/bin/strace",
                        {"-f", "-qq", "-e", "trace=open,openat,openat2,creat", "-o",
                         Path("opens.txt"), TARVIK_FLASH, "--list"},
                        m_dir.Path(), {"ASAN_OPTIONS=detect_leaks=0"});
    const int traceStatus = traced.Wait();
    if (traceStatus != 0 && traced.Err().find("ptrace") != npos) {
        GTEST_SKIP() << "strace cannot trace here: " << traced.Err();
    }
    ASSERT_EQ(traceStatus, 0) << traced.Err();
    const std::string opens = FileText(Path("opens.txt"));
    EXPECT_NE(opens, "");  // the program's own libraries at least: strace saw the opens
    EXPECT_EQ(opens.find("\"/dev/"), npos) << opens;
}

}  // namespace
}  // namespace tarvik
