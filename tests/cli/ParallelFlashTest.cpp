// Several devices at once, as a production line runs tarvik-flash: the real program, its
// children, simulated devices behind COM1, COM2 and usb, and simulators hosted here behind
// pseudo-terminals given as device paths.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <thread>

#include "cli/FlashRunFixture.h"
#include "sim/SerialLoaderSim.h"

namespace tarvik {
namespace {

using namespace std::chrono_literals;

// Whether `out` holds the summary table with these rows in this order, each {port, result}
// or {port, result, message}, their times as they came, and then "<count> devices flashed.".
bool HasTable(const std::string& out, const std::vector<std::vector<std::string>>& rows,
              const std::string& count) {
    std::string pattern = "\nPORT +RESULT +TIME\n";
    for (const auto& row : rows) {
        pattern += row[0] + " +" + row[1] + " +[0-9]+\\.[0-9] s" +
                   (row.size() > 2 ? "  " + row[2] : "") + "\n";
    }
    return std::regex_search(out, std::regex(pattern + count + " devices flashed\\.\n"));
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::seconds limit = 60s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(20ms);
    }
    return condition();
}

// The parent process id of `pid`, or 0 when there is no such process.
long ParentOf(long pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) {
        return 0;
    }
    // "pid (name) state ppid ...": the name may hold spaces, so read from its closing ')'.
    std::istringstream rest(text.substr(text.rfind(')') + 1));
    std::string state;
    long ppid = 0;
    rest >> state >> ppid;
    return ppid;
}

class ParallelFlashTest : public test::FlashRunFixture {
protected:
    // A loader that acknowledges the first block frame and answers the second with "NAK".
    static sim::SerialLoaderOptions RefusingSecondBlock() {
        sim::SerialLoaderOptions options;
        options.faults[4] = {sim::FaultKind::WrongReply, {'N', 'A', 'K'}, {}};
        return options;
    }

    std::vector<std::string> FourPorts(const std::string& pty) const {
        return {"--simulate", "--port", "COM1",   "--port", "COM2",
                "--port",     pty,      "--port", "usb",    Path("fw.bin")};
    }
};

TEST_F(ParallelFlashTest, FourDevicesAtOnceOneRefusingABlock) {
    const auto image = test::PatternBytes(5000);  // three blocks, sent 1, 2, 0
    m_dir.Write("fw.bin", image);
    sim::SerialLoaderSim refusing(RefusingSecondBlock());
    const std::string pty = refusing.DevicePath().string();
    const auto started = std::chrono::steady_clock::now();
    auto run = Start(FourPorts(pty));
    ASSERT_EQ(run.Wait(), 1) << run.Out() << run.Err();
    std::cout << "[ wall time ] four ports, one failing: "
              << std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count()
              << " s\n";
    const std::string out = run.Out();
    const std::string err = run.Err();

    EXPECT_TRUE(HasTable(out,
                         {{"COM1", "succeeded"},
                          {"COM2", "succeeded"},
                          {pty, "failed", "tarvik-flash: N,A,K"},
                          {"usb", "succeeded"}},
                         "3 of 4"))
        << out;

    // One line a status change, prefixed with the port, for every port.
    for (const std::string port : {"COM1", "COM2", "usb"}) {
        EXPECT_NE(out.find(port + ": Download Finished!\n"), std::string::npos) << out;
        EXPECT_NE(out.find(port + ": progress 100%\n"), std::string::npos) << out;
    }
    EXPECT_NE(out.find(pty + ": Progressing...\n"), std::string::npos) << out;
    EXPECT_NE(out.find(pty + ": progress 33%\n"), std::string::npos) << out;
    EXPECT_EQ(out.find(pty + ": Download Finished!"), std::string::npos) << out;
    // The refused port's boxes, in the order its child showed them.
    const std::size_t nak = err.find(pty + ": tarvik-flash: N,A,K\n");
    ASSERT_NE(nak, std::string::npos) << err;
    EXPECT_NE(err.find(pty + ": data: NO Ack 2!\n", nak), std::string::npos) << err;

    // The refusing device took the first block, was sent the second, and was not rebooted.
    EXPECT_EQ(refusing.Pages(), std::vector<std::uint16_t>{0x0008});
    const auto log = refusing.Log();
    const auto first = std::find(log.begin(), log.end(), "frame 0x0008");
    ASSERT_NE(first, log.end());
    EXPECT_NE(std::find(first, log.end(), "frame 0x0010"), log.end());
    EXPECT_FALSE(refusing.Rebooted());
    EXPECT_EQ(refusing.Errors(), std::vector<std::string>{});
    std::vector<std::uint8_t> flashed(2 * 2048, 0);
    std::copy(image.begin() + 2048, image.begin() + 4096, flashed.begin() + 2048);
    EXPECT_EQ(refusing.Flashed(), flashed);
}

TEST_F(ParallelFlashTest, FourDevicesAtOnceAllFlashedEachWithATraceOfItsOwn) {
    const auto image = test::PatternBytes(5000);
    m_dir.Write("fw.bin", image);
    sim::SerialLoaderSim loader;
    const std::string pty = loader.DevicePath().string();
    auto args = FourPorts(pty);
    args.insert(args.begin(), {"--trace", Path("wire.log")});
    auto run = Start(args);
    ASSERT_EQ(run.Wait(), 0) << run.Out() << run.Err();
    EXPECT_TRUE(HasTable(
        run.Out(),
        {{"COM1", "succeeded"}, {"COM2", "succeeded"}, {pty, "succeeded"}, {"usb", "succeeded"}},
        "4 of 4"))
        << run.Out();
    auto padded = image;
    padded.resize(3 * 2048, 0);
    EXPECT_EQ(loader.Flashed(), padded);
    EXPECT_TRUE(loader.Rebooted());

    std::string ptyName = pty;
    std::replace(ptyName.begin(), ptyName.end(), '/', '_');
    for (const std::string suffix : {"COM1", "COM2", ptyName.c_str(), "usb"}) {
        std::ifstream trace(Path("wire.log." + suffix));
        std::string line;
        ASSERT_TRUE(std::getline(trace, line)) << suffix;
        EXPECT_NE(line.find(" open "), std::string::npos) << suffix << ": " << line;
    }
    EXPECT_FALSE(std::filesystem::exists(Path("wire.log")));
}

TEST_F(ParallelFlashTest, JsonFormCarriesEveryPortsEventsThenTheSummary) {
    m_dir.Write("fw.bin", test::PatternBytes(5000));
    sim::SerialLoaderSim refusing(RefusingSecondBlock());
    const std::string pty = refusing.DevicePath().string();
    auto args = FourPorts(pty);
    args.insert(args.begin(), "--json");
    auto run = Start(args);
    ASSERT_EQ(run.Wait(), 1) << run.Out() << run.Err();
    EXPECT_EQ(run.Err(), "");
    const auto events = JsonLines(run.Out());
    ASSERT_GT(events.size(), 4u);

    const std::vector<std::string> ports = {"COM1", "COM2", pty, "usb"};
    const auto starts = Events(events, "start");
    ASSERT_EQ(starts.size(), 4u);
    for (std::size_t i = 0; i < ports.size(); ++i) {
        EXPECT_EQ(starts[i].at("port"), ports[i]);
        EXPECT_GT(starts[i].at("pid").get<long>(), 0);
        const auto results = Events(events, "result", ports[i]);
        ASSERT_EQ(results.size(), 1u) << ports[i];
        EXPECT_EQ(results[0].at("result"), i == 2 ? "failed" : "succeeded");
        EXPECT_EQ(results[0].at("exit"), i == 2 ? 1 : 0);
        int last = -1;
        int blocks = 0;
        for (const auto& progress : Events(events, "progress", ports[i])) {
            EXPECT_GE(progress.at("percent").get<int>(), last) << ports[i];
            last = progress.at("percent");
            blocks = progress.value("block", blocks);
        }
        EXPECT_EQ(last, i == 2 ? 33 : 100) << ports[i];
        EXPECT_EQ(blocks, i == 2 ? 1 : 3) << ports[i];
        EXPECT_EQ(results[0].at("bytes"), blocks * 2048) << ports[i];
    }
    const auto refusals = Events(events, "message", pty);
    ASSERT_EQ(refusals.size(), 2u);
    EXPECT_EQ(refusals[0].at("text"), "N,A,K");
    EXPECT_EQ(refusals[1].at("caption"), "data");

    const auto& summary = events.back();
    ASSERT_EQ(summary.at("event"), "summary");
    EXPECT_EQ(summary.at("flashed"), 3);
    EXPECT_EQ(summary.at("total"), 4);
    EXPECT_EQ(summary.at("exit"), 1);
    const auto& entries = summary.at("ports");
    ASSERT_EQ(entries.size(), 4u);
    for (std::size_t i = 0; i < ports.size(); ++i) {
        EXPECT_EQ(entries[i].at("port"), ports[i]);
        EXPECT_EQ(entries[i].at("result"), i == 2 ? "failed" : "succeeded");
    }
    EXPECT_EQ(entries[2].at("message"), "tarvik-flash: N,A,K");
}

TEST_F(ParallelFlashTest, CtrlCReachesEveryChildAndLeavesNoneRunning) {
    // Twenty blocks at the real pace of 115200 baud: several seconds a device.
    m_dir.Write("fw.bin", test::PatternBytes(20 * 2048));
    sim::SerialLoaderOptions paced;
    paced.paceAtBaud = true;
    std::vector<std::unique_ptr<sim::SerialLoaderSim>> loaders;
    std::vector<std::string> args = {"--json"};
    std::vector<std::string> ports;
    for (int i = 0; i < 3; ++i) {
        loaders.push_back(std::make_unique<sim::SerialLoaderSim>(paced));
        ports.push_back(loaders.back()->DevicePath().string());
        args.insert(args.end(), {"--port", ports.back()});
    }
    args.push_back(Path("fw.bin"));
    auto run = Start(args);

    // Every device is downloading (past its first block) before Ctrl+C.
    ASSERT_TRUE(WaitUntil([&] {
        const std::string out = run.Out();
        for (const auto& port : ports) {
            if (out.find(R"({"event":"progress","port":")" + port + R"(","percent":5)") ==
                std::string::npos) {
                return false;
            }
        }
        return true;
    })) << run.Out()
        << run.Err();
    std::vector<long> pids;
    for (const auto& start : Events(JsonLines(run.Out()), "start")) {
        pids.push_back(start.at("pid").get<long>());
        EXPECT_EQ(ParentOf(pids.back()), run.Pid());  // the pids are the parent's children
    }
    ASSERT_EQ(pids.size(), 3u);

    run.Signal(SIGINT);
    ASSERT_EQ(run.Wait(), 130) << run.Out() << run.Err();
    for (const long pid : pids) {
        EXPECT_EQ(ParentOf(pid), 0) << "child " << pid << " is still there";
    }
    const auto events = JsonLines(run.Out());
    for (const auto& port : ports) {
        const auto results = Events(events, "result", port);
        ASSERT_EQ(results.size(), 1u) << port;
        EXPECT_EQ(results[0].at("result"), "interrupted");
        EXPECT_EQ(results[0].at("exit"), 130);
    }
    EXPECT_EQ(events.back().at("event"), "summary");
    EXPECT_EQ(events.back().at("exit"), 130);
    EXPECT_EQ(events.back().at("flashed"), 0);
    for (const auto& loader : loaders) {
        EXPECT_FALSE(loader->Rebooted());
        EXPECT_LT(loader->Pages().size(), 20u);  // ended early, not run to the end
        EXPECT_GE(loader->Pages().size(), 1u);
    }
}

TEST_F(ParallelFlashTest, AChildKilledPartWayFailsWithItsSignalNamed) {
    m_dir.Write("fw.bin", test::PatternBytes(8 * 2048));
    sim::SerialLoaderOptions paced;
    paced.paceAtBaud = true;
    sim::SerialLoaderSim first(paced);
    sim::SerialLoaderSim second(paced);
    const std::string victim = second.DevicePath().string();
    auto run =
        Start({"--port", first.DevicePath().string(), "--port", victim, "--json", Path("fw.bin")});
    ASSERT_TRUE(WaitUntil([&] {
        return run.Out().find(R"({"event":"progress","port":")" + victim) != std::string::npos;
    })) << run.Out();
    const auto starts = Events(JsonLines(run.Out()), "start", victim);
    ASSERT_EQ(starts.size(), 1u);
    ::kill(starts[0].at("pid").get<pid_t>(), SIGKILL);

    ASSERT_EQ(run.Wait(), 1) << run.Out() << run.Err();
    const auto events = JsonLines(run.Out());
    const auto results = Events(events, "result", victim);
    ASSERT_EQ(results.size(), 1u);  // written by the parent for the child
    EXPECT_EQ(results[0].at("result"), "failed");
    EXPECT_EQ(results[0].at("signal"), "SIGKILL");
    const auto& entries = events.back().at("ports");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].at("result"), "succeeded");
    EXPECT_EQ(entries[1].at("message"), "killed by SIGKILL");
    EXPECT_TRUE(first.Rebooted());
    EXPECT_FALSE(second.Rebooted());
}

}  // namespace
}  // namespace tarvik
