// A parallel run seen from the parent, without processes: the children's lines in, what the
// operator sees and the summary out.
#include <gtest/gtest.h>

#include <signal.h>

#include <nlohmann/json.hpp>

#include "cli/FlashSummary.h"
#include "cli/LineBuffer.h"
#include "cli/PortBoard.h"
#include "cli/StreamCapture.h"

namespace tarvik::cli {
namespace {

using test::StreamCapture;

std::string Status(const std::string& port, const std::string& text) {
    return R"({"event":"status","port":")" + port + R"(","text":")" + text + R"("})";
}
// A change of the percent alone, or with `block` of `blocks` acknowledged.
std::string Progress(const std::string& port, int percent, int block = 0, int blocks = 0) {
    std::string line =
        R"({"event":"progress","port":")" + port + R"(","percent":)" + std::to_string(percent);
    if (blocks > 0) {
        line += R"(,"block":)" + std::to_string(block) + R"(,"blocks":)" + std::to_string(blocks) +
                R"(,"bytes":)" + std::to_string(block * 2048);
    }
    return line + "}";
}
std::string Message(const std::string& port, const std::string& caption, const std::string& text,
                    bool failure) {
    return R"({"event":"message","port":")" + port + R"(","caption":")" + caption +
           R"(","text":")" + text + R"(","icon":")" + (failure ? "hand" : "none") + "\"}";
}
std::string Result(const std::string& port, const std::string& result, int exit,
                   const std::string& seconds, int bytes = 0) {
    return R"({"event":"result","port":")" + port + R"(","result":")" + result + R"(","exit":)" +
           std::to_string(exit) + R"(,"seconds":)" + seconds + R"(,"bytes":)" +
           std::to_string(bytes) + "}";
}

// Three ports as their children report them: one flashed, one refused by its device, one
// killed part way.
void FeedThreePorts(PortBoard& board) {
    board.Started(0, 101);
    board.Started(1, 102);
    board.Started(2, 103);
    board.TakeLine(0, Progress("COM1", 0));
    board.TakeLine(0, Status("COM1", "Search Device..."));
    board.TakeLine(1, Status("/dev/pts/7", "Search Device..."));
    board.TakeLine(2, Status("usb", "Progressing..."));
    board.TakeLine(0, Status("COM1", "Progressing..."));
    for (const int percent : {5, 12, 33, 38, 66}) {
        board.TakeLine(0, Progress("COM1", percent, percent / 10 + 1, 8));
    }
    board.TakeLine(0, Progress("COM1", 100));
    board.TakeLine(2, Progress("usb", 20, 1, 5));
    board.TakeLine(2, R"({"event":"status","port":"usb","te)");  // cut short by the kill
    board.TakeLine(1, Message("/dev/pts/7", "tarvik-flash", "N,A,K", false));
    board.TakeLine(1, Message("/dev/pts/7", "data", "NO Ack 2!", false));
    board.TakeLine(1, Result("/dev/pts/7", "failed", 1, "3.14", 2048));
    board.TakeErr(1, "a line on stderr\nand another\n");
    board.Ended(1, ChildEnd{1, 0}, 3.3);
    board.TakeLine(0, Status("COM1", "Download Finished!"));
    board.TakeLine(0, Message("COM1", "Update", "Download Finished!", false));
    board.TakeLine(0, Result("COM1", "succeeded", 0, "12.34", 16384));
    board.Ended(0, ChildEnd{0, 0}, 12.5);
    board.Ended(2, ChildEnd{128 + SIGKILL, SIGKILL}, 0.52);
}

const std::vector<std::string> kThreePorts = {"COM1", "/dev/pts/7", "usb"};

TEST(PortBoardTest, LinesModeShowsStatusChangesTenPercentStepsMessagesAndTheTable) {
    StreamCapture out;
    StreamCapture err;
    PortBoard board(kThreePorts, BoardMode::Lines, out.File(), err.File());
    FeedThreePorts(board);
    EXPECT_EQ(board.Finish(false), 1);
    EXPECT_EQ(out.Text(),
              "COM1: progress 0%\n"
              "COM1: Search Device...\n"
              "/dev/pts/7: Search Device...\n"
              "usb: Progressing...\n"
              "COM1: Progressing...\n"
              "COM1: progress 12%\n"
              "COM1: progress 33%\n"
              "COM1: progress 66%\n"
              "COM1: progress 100%\n"
              "usb: progress 20%\n"
              "COM1: Download Finished!\n"
              "PORT          RESULT       TIME\n"
              "COM1          succeeded    12.3 s\n"
              "/dev/pts/7    failed        3.1 s  tarvik-flash: N,A,K\n"
              "usb           failed        0.5 s  killed by SIGKILL\n"
              "1 of 3 devices flashed.\n");
    EXPECT_EQ(err.Text(),
              "/dev/pts/7: tarvik-flash: N,A,K\n"
              "/dev/pts/7: data: NO Ack 2!\n"
              "/dev/pts/7: a line on stderr\n"
              "/dev/pts/7: and another\n"
              "COM1: Update: Download Finished!\n");
}

TEST(PortBoardTest, TheSummaryNamesEachPortsFirstFailureAndTheExitFollowsEveryChild) {
    std::vector<PortState> ports(4);
    ports[0].port = "COM1";
    ApplyEnd(ports[0], {0, 0}, 8.04);
    ports[1].port = "/dev/serial/by-id/usb-Tarvik_Cradle-if00";  // wider than the column
    ApplyEvent(ports[1], *ParsePortEvent(Message("p", "Fail", "Timeout fail!", false)));
    ApplyEvent(ports[1], *ParsePortEvent(Message("p", "tarvik-flash",
                                                 "Serial Port is unavaible!\\nbusy.", true)));
    ApplyEnd(ports[1], {1, 0}, 5.0);
    ports[2].port = "COM3";
    ports[2].errText = "tarvik-flash: cannot write the trace t.log.COM3\n";
    ApplyEnd(ports[2], {1, 0}, 0.04);
    ports[3].port = "usb";
    ApplyEvent(ports[3], *ParsePortEvent(Result("usb", "interrupted", 130, "100.06")));
    ApplyEnd(ports[3], {130, 0}, 100.2);
    // The failure box outranks the earlier plain one; the child's own time wins when it
    // gave one.
    EXPECT_EQ(SummaryTable(ports),
              "PORT                                      RESULT       TIME\n"
              "COM1                                      succeeded      8.0 s\n"
              "/dev/serial/by-id/usb-Tarvik_Cradle-if00  failed         5.0 s  tarvik-flash: "
              "Serial Port is unavaible! busy.\n"
              "COM3                                      failed         0.0 s  tarvik-flash: "
              "cannot write the trace t.log.COM3\n"
              "usb                                       interrupted  100.1 s\n"
              "1 of 4 devices flashed.\n");
    EXPECT_EQ(ParallelExitStatus(ports, false), 1);
    EXPECT_EQ(ParallelExitStatus(ports, true), 130);
    ports.erase(ports.begin() + 1, ports.end());
    EXPECT_EQ(ParallelExitStatus(ports, false), 0);
    // A child that said "succeeded" and then crashed did not succeed.
    ApplyEvent(ports[0], *ParsePortEvent(Result("COM1", "succeeded", 0, "1.00")));
    ApplyEnd(ports[0], {128 + SIGSEGV, SIGSEGV}, 1.1);
    EXPECT_EQ(ParallelExitStatus(ports, false), 1);
    EXPECT_EQ(FirstFailure(ports[0]), "killed by SIGSEGV");
}

TEST(PortBoardTest, JsonModePassesTheChildrensObjectsThroughAndEndsWithTheSummary) {
    StreamCapture out;
    StreamCapture err;
    PortBoard board(kThreePorts, BoardMode::Json, out.File(), err.File());
    FeedThreePorts(board);
    EXPECT_EQ(board.Finish(false), 1);
    EXPECT_EQ(err.Text(), "");
    std::vector<nlohmann::json> events;
    std::string text = out.Text();
    LineBuffer lines;
    for (const std::string& line : lines.Take(text)) {
        events.push_back(nlohmann::json::parse(line, nullptr, false));
        ASSERT_TRUE(events.back().is_object()) << line;
    }
    EXPECT_FALSE(lines.HasPartial());
    ASSERT_EQ(events.size(), 3u + 18u + 1u + 1u)
        << text;  // starts, passed, made-up result, summary
    EXPECT_EQ(text.substr(0, text.find('\n')), R"({"event":"start","port":"COM1","pid":101})");
    // The children's lines go out byte for byte, the cut one not at all.
    EXPECT_NE(text.find("\n" + Progress("COM1", 38, 4, 8) + "\n"), std::string::npos);
    EXPECT_EQ(text.find(R"("te)"
                        "\n"),
              std::string::npos);
    // The killed child never wrote its result: the parent writes one for it, with the bytes
    // its last block event gave.
    EXPECT_NE(
        text.find(
            R"({"event":"result","port":"usb","result":"failed","exit":137,"seconds":0.52,"bytes":2048,"signal":"SIGKILL"})"),
        std::string::npos);
    const nlohmann::json summary = events.back();
    EXPECT_EQ(summary.at("event"), "summary");
    EXPECT_EQ(summary.at("flashed"), 1);
    EXPECT_EQ(summary.at("total"), 3);
    EXPECT_EQ(summary.at("exit"), 1);
    const auto& ports = summary.at("ports");
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0].at("port"), "COM1");
    EXPECT_EQ(ports[0].at("result"), "succeeded");
    EXPECT_EQ(ports[0].at("seconds"), 12.34);
    EXPECT_FALSE(ports[0].contains("message"));
    EXPECT_EQ(ports[1].at("result"), "failed");
    EXPECT_EQ(ports[1].at("message"), "tarvik-flash: N,A,K");
    EXPECT_EQ(ports[1].at("stderr"), "a line on stderr\nand another\n");
    EXPECT_EQ(ports[2].at("signal"), "SIGKILL");
    EXPECT_EQ(ports[2].at("exit"), 137);
}

TEST(PortBoardTest, QuietShowsNothingForSuccessAndTheFailedPortsBoxesAndTableOtherwise) {
    {
        StreamCapture out;
        StreamCapture err;
        PortBoard board({"COM1", "COM2"}, BoardMode::Quiet, out.File(), err.File());
        for (std::size_t i = 0; i < 2; ++i) {
            const std::string port = i == 0 ? "COM1" : "COM2";
            board.TakeLine(i, Status(port, "Progressing..."));
            board.TakeLine(i, Progress(port, 100));
            board.TakeLine(i, Message(port, "Update", "Download Finished!", false));
            board.Ended(i, {0, 0}, 1);
        }
        EXPECT_EQ(board.Finish(false), 0);
        EXPECT_EQ(out.Text(), "");
        EXPECT_EQ(err.Text(), "");
    }
    StreamCapture out;
    StreamCapture err;
    PortBoard board(kThreePorts, BoardMode::Quiet, out.File(), err.File());
    FeedThreePorts(board);
    EXPECT_EQ(board.Finish(false), 1);
    EXPECT_EQ(err.Text(),
              "/dev/pts/7: tarvik-flash: N,A,K\n"
              "/dev/pts/7: data: NO Ack 2!\n"
              "/dev/pts/7: a line on stderr\n"
              "/dev/pts/7: and another\n");
    EXPECT_EQ(out.Text().substr(0, 4), "PORT");
    EXPECT_NE(out.Text().find("1 of 3 devices flashed.\n"), std::string::npos);
}

TEST(PortBoardTest, TerminalModeRedrawsOneLinePerPortInPlaceWithItsRateAndTimeLeft) {
    PortState port;
    port.port = "COM1";
    port.percent = 50;
    port.status = "Progressing...";
    EXPECT_EQ(PortBoard::TerminalLine(port, 8, 80, "11.1 KiB/s  0:06 left"),
              "COM1    [##########..........]  50%  11.1 KiB/s  0:06 left  Progressing...");
    // Cut to the terminal's width, never inside a character, control characters blanked.
    port.status = "\xC3\xBC\xC3\xBC\xC3\xBC\nxyz";
    EXPECT_EQ(PortBoard::TerminalLine(port, 8, 41),
              "COM1    [##########..........]  50%  \xC3\xBC");
    EXPECT_EQ(PortBoard::TerminalLine(port, 8, 80),
              "COM1    [##########..........]  50%  \xC3\xBC\xC3\xBC\xC3\xBC xyz");
    ApplyEvent(port, *ParsePortEvent(Message("COM1", "Fail", "Timeout fail!", false)));
    ApplyEnd(port, {1, 0}, 6);
    EXPECT_EQ(PortBoard::TerminalLine(port, 8, 80, "1.0 KiB/s  0:01 left"),
              "COM1    [##########..........]  50%  failed: Fail: Timeout fail!");

    StreamCapture out;
    StreamCapture err;
    TimePoint now{};
    PortBoard board({"COM1", "usb"}, BoardMode::Terminal, out.File(), err.File(), 80,
                    [&] { return now; });
    board.Redraw();
    board.Redraw();                                  // nothing changed: nothing drawn
    board.TakeLine(1, Progress("usb", 10, 1, 128));  // one block: no rate yet
    board.Redraw();
    board.TakeLine(0, Message("COM1", "Fail", "Timeout fail!", false));
    now += std::chrono::seconds(2);
    board.TakeLine(1, Progress("usb", 20, 3, 128));  // 4096 bytes in 2 s, 125 blocks to go
    board.Redraw();
    const std::string bar = "[....................]   0%  ";
    const std::string line0 = "\r\033[KCOM1  " + bar + "\n";
    const std::string usb0 = "\r\033[Kusb   " + bar + "\n";
    const std::string usb10 = "\r\033[Kusb   [##..................]  10%  \n";
    const std::string usb20 = "\r\033[Kusb   [####................]  20%  2.0 KiB/s  2:05 left  \n";
    // Drawn, redrawn two lines up, taken off for the message and drawn again below it, then
    // redrawn with the rate.
    EXPECT_EQ(out.Text(), line0 + usb0 + "\033[2A" + line0 + usb10 + "\033[2A\r\033[J" + line0 +
                              usb10 + "\033[2A" + line0 + usb20);
    EXPECT_EQ(err.Text(), "COM1: Fail: Timeout fail!\n");
}

TEST(PortBoardTest, LineBufferHandsOutWholeLinesOnly) {
    LineBuffer buffer;
    EXPECT_EQ(buffer.Take("{\"a\":"), std::vector<std::string>{});
    EXPECT_TRUE(buffer.HasPartial());
    EXPECT_EQ(buffer.Take("1}\n\n{\"b\""), (std::vector<std::string>{"{\"a\":1}", ""}));
    EXPECT_EQ(buffer.Take(":2}\n"), std::vector<std::string>{"{\"b\":2}"});
    EXPECT_FALSE(buffer.HasPartial());
    const auto lines = buffer.Take(std::string(LineBuffer::kMaxLine + 10, 'x') + "\nok\n");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), LineBuffer::kMaxLine);
    EXPECT_EQ(lines[1], "ok");
}

}  // namespace
}  // namespace tarvik::cli
