// A parallel run seen from the parent, without processes: the children's lines in, what the
// operator sees and the summary out.
#include <gtest/gtest.h>

#include <csignal>

#include "cli/CliTestSupport.h"
#include "cli/FlashSummary.h"
#include "cli/LineBuffer.h"
#include "cli/PortBoard.h"

namespace tarvik::cli {
namespace {

using test::StreamCapture;

// What the children of three ports wrote, in the order it came: one flashed, one refused by
// its device, one killed part way.
const std::pair<std::size_t, std::string> kLines[] = {
    {0, R"({"event":"progress","port":"COM1","percent":0})"},
    {0, R"({"event":"status","port":"COM1","text":"Search Device..."})"},
    {1, R"({"event":"status","port":"/dev/pts/7","text":"Search Device..."})"},
    {2, R"({"event":"status","port":"usb","text":"Progressing..."})"},
    {0, R"({"event":"status","port":"COM1","text":"Progressing..."})"},
    {0, R"({"event":"progress","port":"COM1","percent":5,"block":1,"blocks":8,"bytes":2048})"},
    {0, R"({"event":"progress","port":"COM1","percent":12,"block":2,"blocks":8,"bytes":4096})"},
    {0, R"({"event":"progress","port":"COM1","percent":33,"block":4,"blocks":8,"bytes":8192})"},
    {0, R"({"event":"progress","port":"COM1","percent":38,"block":4,"blocks":8,"bytes":8192})"},
    {0, R"({"event":"progress","port":"COM1","percent":66,"block":7,"blocks":8,"bytes":14336})"},
    {0, R"({"event":"progress","port":"COM1","percent":100})"},
    {2, R"({"event":"progress","port":"usb","percent":20,"block":1,"blocks":5,"bytes":2048})"},
    {1,
     R"({"event":"message","port":"/dev/pts/7","caption":"tarvik-flash","text":"N,A,K","icon":"none"})"},
    {1,
     R"({"event":"message","port":"/dev/pts/7","caption":"data","text":"NO Ack 2!","icon":"none"})"},
    {1,
     R"({"event":"result","port":"/dev/pts/7","result":"failed","exit":1,"seconds":3.14,"bytes":2048})"},
    {0, R"({"event":"status","port":"COM1","text":"Download Finished!"})"},
    {0,
     R"({"event":"message","port":"COM1","caption":"Update","text":"Download Finished!","icon":"none"})"},
    {0,
     R"({"event":"result","port":"COM1","result":"succeeded","exit":0,"seconds":12.34,"bytes":16384})"},
};

using test::Ran;

Ran ShowThreePorts(BoardMode mode) {
    StreamCapture out, err;
    PortBoard board({"COM1", "/dev/pts/7", "usb"}, mode, out.File(), err.File());
    for (std::size_t port = 0; port < 3; ++port) {
        board.Started(port, 101 + port);
    }
    for (const auto& [port, line] : kLines) {
        board.TakeLine(port, line);
    }
    board.TakeLine(2, R"({"event":"status","port":"usb","te)");  // cut short by the kill
    board.TakeErr(1, "a line on stderr\nand another\n");
    board.Ended(1, ChildEnd{1, 0}, 3.3);
    board.Ended(0, ChildEnd{0, 0}, 12.5);
    board.Ended(2, ChildEnd{128 + SIGTERM, SIGTERM}, 0.52);
    return {board.Finish(false), out.Text(), err.Text()};
}

const std::string kTable =
    "PORT          RESULT       TIME\n"
    "COM1          succeeded    12.3 s\n"
    "/dev/pts/7    failed        3.1 s  tarvik-flash: N,A,K\n"
    "usb           failed        0.5 s  killed by SIGTERM\n"
    "1 of 3 devices flashed.\n";
const std::string kRefusal = "/dev/pts/7: tarvik-flash: N,A,K\n/dev/pts/7: data: NO Ack 2!\n";
const std::string kStderr = "/dev/pts/7: a line on stderr\n/dev/pts/7: and another\n";

TEST(PortBoardTest, LinesQuietAndJsonFormsEndWithTheSummaryAndQuietShowsNothingOfASuccess) {
    EXPECT_EQ(ShowThreePorts(BoardMode::Lines),
              (Ran{1,
                   "COM1: progress 0%\nCOM1: Search Device...\n/dev/pts/7: Search Device...\n"
                   "usb: Progressing...\nCOM1: Progressing...\nCOM1: progress 12%\n"
                   "COM1: progress 33%\nCOM1: progress 66%\nCOM1: progress 100%\n"
                   "usb: progress 20%\nCOM1: Download Finished!\n" +
                       kTable,
                   kRefusal + "COM1: Update: Download Finished!\n" + kStderr}));
    EXPECT_EQ(ShowThreePorts(BoardMode::Quiet), (Ran{1, kTable, kRefusal + kStderr}));
    // The children's whole lines go out byte for byte, the cut one not at all; the parent
    // writes the result the killed child never wrote, with the bytes of its last block.
    std::string json = R"({"event":"start","port":"COM1","pid":101}
{"event":"start","port":"/dev/pts/7","pid":102}
{"event":"start","port":"usb","pid":103}
)";
    for (const auto& [port, line] : kLines) {
        json += line + "\n";
    }
    json +=
        R"({"event":"result","port":"usb","result":"failed","exit":143,"seconds":0.52,"bytes":2048,"signal":"SIGTERM"}
{"event":"summary","ports":[{"port":"COM1","result":"succeeded","exit":0,"seconds":12.34},{"port":"/dev/pts/7","result":"failed","exit":1,"seconds":3.14,"message":"tarvik-flash: N,A,K","stderr":"a line on stderr\nand another\n"},{"port":"usb","result":"failed","exit":143,"seconds":0.52,"message":"killed by SIGTERM","signal":"SIGTERM"}],"flashed":1,"total":3,"exit":1}
)";
    EXPECT_EQ(ShowThreePorts(BoardMode::Json), (Ran{1, json, ""}));

    // Quiet, with every port flashed: nothing at all.
    StreamCapture out, err;
    PortBoard board({"COM1", "COM2"}, BoardMode::Quiet, out.File(), err.File());
    for (std::size_t port = 0; port < 2; ++port) {
        board.TakeLine(port, kLines[16].second);  // the box that says it finished
        board.Ended(port, {0, 0}, 1);
    }
    EXPECT_EQ((Ran{board.Finish(false), out.Text(), err.Text()}), (Ran{0, "", ""}));
}

PortEvent Event(const std::string& line) {
    return ParsePortEvent(line).value();
}

TEST(PortBoardTest, TheSummaryNamesEachPortsFirstFailureAndTheExitFollowsEveryChild) {
    const auto box = [](const std::string& caption, const std::string& text, const char* icon) {
        return Event(R"({"event":"message","port":"p","caption":")" + caption + R"(","text":")" +
                     text + R"(","icon":")" + icon + "\"}");
    };
    std::vector<PortState> ports(4);
    ports[0].port = "COM1";
    ApplyEnd(ports[0], {0, 0}, 8.04);
    ports[1].port = "/dev/serial/by-id/usb-Tarvik_Cradle-if00";  // wider than the column
    ApplyEvent(ports[1], box("Fail", "Timeout fail!", "none"));
    ApplyEvent(ports[1], box("tarvik-flash", "Serial Port is unavaible!\\nbusy.", "hand"));
    ApplyEnd(ports[1], {1, 0}, 5.0);
    ports[2].port = "COM3";
    ports[2].errText = "tarvik-flash: cannot write the trace t.log.COM3\n";
    ApplyEnd(ports[2], {1, 0}, 0.04);
    ports[3].port = "usb";
    const char* interrupted =
        R"({"event":"result","port":"usb","result":"interrupted","exit":130,"seconds":100.06,"bytes":0})";
    ApplyEvent(ports[3], Event(interrupted));
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
    ApplyEvent(ports[0], Event(kLines[17].second));
    ApplyEnd(ports[0], {128 + SIGSEGV, SIGSEGV}, 1.1);
    EXPECT_EQ(ParallelExitStatus(ports, false), 1);
    EXPECT_EQ(FirstFailure(ports[0]), "killed by SIGSEGV");
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
    const std::string timeout =
        R"({"event":"message","port":"COM1","caption":"Fail","text":"Timeout fail!","icon":"none"})";
    ApplyEvent(port, Event(timeout));
    ApplyEnd(port, {1, 0}, 6);
    EXPECT_EQ(PortBoard::TerminalLine(port, 8, 80, "1.0 KiB/s  0:01 left"),
              "COM1    [##########..........]  50%  failed: Fail: Timeout fail!");

    StreamCapture out, err;
    TimePoint now{};
    PortBoard board({"COM1", "usb"}, BoardMode::Terminal, out.File(), err.File(), 80,
                    [&] { return now; });
    board.Redraw();
    board.Redraw();  // nothing changed: nothing drawn
    // One block: no rate yet.
    board.TakeLine(
        1, R"({"event":"progress","port":"usb","percent":10,"block":1,"blocks":128,"bytes":2048})");
    board.Redraw();
    board.TakeLine(0, timeout);
    now += std::chrono::seconds(2);
    // 4096 bytes in 2 s, 125 blocks to go.
    board.TakeLine(
        1, R"({"event":"progress","port":"usb","percent":20,"block":3,"blocks":128,"bytes":6144})");
    board.Redraw();
    const std::string line0 = "\r\033[KCOM1  [....................]   0%  \n";
    const std::string usb0 = "\r\033[Kusb   [....................]   0%  \n";
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
    EXPECT_EQ(buffer.Take("{\"a\":"), test::Strings{});
    EXPECT_TRUE(buffer.HasPartial());
    EXPECT_EQ(buffer.Take("1}\n\n{\"b\""), (test::Strings{"{\"a\":1}", ""}));
    EXPECT_EQ(buffer.Take(":2}\n"), test::Strings{"{\"b\":2}"});
    EXPECT_FALSE(buffer.HasPartial());
    const auto lines = buffer.Take(std::string(LineBuffer::kMaxLine + 10, 'x') + "\nok\n");
    EXPECT_EQ(lines, (test::Strings{std::string(LineBuffer::kMaxLine, 'x'), "ok"}));
}

}  // namespace
}  // namespace tarvik::cli
