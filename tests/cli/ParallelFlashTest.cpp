// Several devices at once, as a production line runs tarvik-flash: the real program, its
// children, simulated devices behind COM1, COM2 and usb, and simulators hosted here behind
// pseudo-terminals given as device paths.
#include <gtest/gtest.h>

#include <signal.h>

#include "cli/FlashRunFixture.h"
#include "sim/SerialLoaderSim.h"
#include "support/TraceLines.h"

namespace tarvik {
namespace {

using namespace test;
using ParallelFlashTest = FlashRunFixture;
constexpr auto npos = std::string::npos;

// The parent process id of `pid`, or 0 when there is no such process.
long ParentOf(long pid) {
    const std::string stat = FileText("/proc/" + std::to_string(pid) + "/stat");
    // "pid (name) state ppid ...": the name may hold spaces, so read from its closing ')'.
    std::istringstream rest(stat.substr(stat.rfind(')') + 1));
    std::string state;
    long ppid = 0;
    rest >> state >> ppid;
    return ppid;
}

TEST_F(ParallelFlashTest, FourDevicesAtOnceAllFlashedEachWithATraceOfItsOwn) {
    auto image = PatternBytes(5000);
    m_dir.Write("fw.bin", image);
    sim::SerialLoaderSim loader;
    const std::string pty = loader.DevicePath().string();
    const Ran run = Run({"--trace", Path("wire.log"), "--simulate", "--port", "COM1", "--port",
                         "COM2", "--port", pty, "--port", "usb", Path("fw.bin")});
    EXPECT_EQ(run.exit, 0) << run.out << run.err;
    // One line a status change and a box, each prefixed with its port, then the table with
    // the times as they came.
    std::string table = "\nPORT +RESULT +TIME\n";
    for (std::string port : {"COM1", "COM2", pty.c_str(), "usb"}) {
        EXPECT_NE(run.out.find(port + ": progress 100%\n"), npos) << run.out;
        EXPECT_NE(run.out.find(port + ": Download Finished!\n"), npos) << run.out;
        EXPECT_NE(run.err.find(port + ": Update: Download Finished!\n"), npos) << run.err;
        table += port + " +succeeded +[0-9]+\\.[0-9] s\n";
        std::replace(port.begin(), port.end(), '/', '_');
        EXPECT_TRUE(TraceLines(Path("wire.log." + port)).at(0).starts_with("open ")) << port;
    }
    EXPECT_TRUE(std::regex_search(run.out, std::regex(table + "4 of 4 devices flashed\\.\n$")))
        << run.out;
    EXPECT_FALSE(std::filesystem::exists(Path("wire.log")));
    image.resize(3 * 2048, 0);
    EXPECT_EQ(loader.Flashed(), image);
    EXPECT_TRUE(loader.Rebooted());
    EXPECT_EQ(loader.Errors(), Strings{});
}

// Three devices at the real pace of 115200 baud, several seconds each, and one that refuses
// its second block: one child is killed part way, the others go on, then Ctrl+C.
TEST_F(ParallelFlashTest, AKilledChildIsNamedByItsSignalAndCtrlCReachesEveryOtherChild) {
    m_dir.Write("fw.bin", PatternBytes(40 * 2048));
    sim::SerialLoaderOptions options;
    options.paceAtBaud = true;
    sim::SerialLoaderSim paced[3] = {sim::SerialLoaderSim(options), sim::SerialLoaderSim(options),
                                     sim::SerialLoaderSim(options)};
    options = {};
    options.faults[4] = {sim::FaultKind::WrongReply, {'N', 'A', 'K'}, {}};
    sim::SerialLoaderSim refusing(options);
    Strings ports;
    Strings args = {"--json"};
    for (auto* loader : {&paced[0], &paced[1], &paced[2], &refusing}) {
        ports.push_back(loader->DevicePath().string());
        args.insert(args.end(), {"--port", ports.back()});
    }
    args.push_back(Path("fw.bin"));
    auto run = Start(args);
    const auto progress = [&](int i, int percent) {
        return R"({"event":"progress","port":")" + ports[i] + R"(","percent":)" +
               std::to_string(percent);
    };
    for (int i = 0; i < 3; ++i) {  // every paced device is past its first blocks
        ASSERT_TRUE(run.WaitForOut(progress(i, 5))) << run.Out() << run.Err();
    }
    std::vector<long> pids;
    for (const auto& start : Events(JsonLines(run.Out()), "start")) {
        pids.push_back(start.at("pid").get<long>());
    }
    ASSERT_EQ(pids.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ParentOf(pids[i]), run.Pid());  // the pids are the parent's children
    }
    ::kill(pids[1], SIGKILL);
    ASSERT_TRUE(run.WaitForOut(R"("signal":"SIGKILL")")) << run.Out();
    ASSERT_TRUE(run.WaitForOut(progress(0, 30))) << run.Out();  // the others go on

    run.Signal(SIGINT);
    ASSERT_EQ(run.Wait(), 130) << run.Out() << run.Err();
    EXPECT_EQ(run.Err(), "");
    for (const long pid : pids) {
        EXPECT_EQ(ParentOf(pid), 0) << "child " << pid << " is still there";
    }
    const auto events = JsonLines(run.Out());
    const auto& summary = events.back();
    ASSERT_EQ(summary.at("event"), "summary");
    EXPECT_EQ(summary.at("flashed").dump() + " of " + summary.at("total").dump() + ", exit " +
                  summary.at("exit").dump(),
              "0 of 4, exit 130");
    Strings ends;  // each port's one result event, then what its row in the summary says
    for (std::size_t i = 0; i < ports.size(); ++i) {
        for (const auto& result : Events(events, "result", ports[i])) {
            ends.push_back(result.at("result").get<std::string>() + " " + result.at("exit").dump() +
                           " " + result.value("signal", "-") + " " +
                           (i == 3 ? result.at("bytes").dump() : ""));
        }
        const auto& row = summary.at("ports").at(i);
        ends.push_back(row.at("port") == ports[i] ? row.value("message", "-") : "another port");
    }
    EXPECT_EQ(ends, (Strings{"interrupted 130 - ", "-", "failed 137 SIGKILL ", "killed by SIGKILL",
                             "interrupted 130 - ", "-", "failed 1 - 2048", "tarvik-flash: N,A,K"}));
    for (const auto& loader : paced) {
        EXPECT_FALSE(loader.Rebooted());
        EXPECT_LT(loader.Pages().size(), 40u);  // ended early, not run to the end
        EXPECT_GE(loader.Pages().size(), 1u);
    }
    // The refusing device took the first block only, and was not rebooted.
    EXPECT_EQ(refusing.Pages(), std::vector<std::uint16_t>{0x0008});
    EXPECT_FALSE(refusing.Rebooted());
}

}  // namespace
}  // namespace tarvik
