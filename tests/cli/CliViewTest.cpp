// The command line's views: the JSON lines and what a parent reads back of them, the bar on
// a terminal on a time line of the test's own, and --quiet's failures only.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>

#include "cli/JsonView.h"
#include "cli/PortEvents.h"
#include "cli/QuietView.h"
#include "cli/StreamCapture.h"
#include "cli/TerminalView.h"

namespace tarvik::cli {
namespace {

using std::chrono::milliseconds;
using test::StreamCapture;

DialogData Status(const std::string& text) {
    DialogData data;
    data.m_strStatus = text;
    return data;
}

MessageBoxRequest Box(const std::string& caption, const std::string& text, unsigned type) {
    return {MessageKind::Window, caption, text, type};
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

// A parent's reading of one line, every field it keeps, or "refused".
std::string ReadBack(const std::string& line) {
    const auto event = ParsePortEvent(line);
    if (!event) {
        return "refused";
    }
    std::ostringstream text;
    switch (event->kind) {
        case PortEvent::Kind::Status:
            text << "status " << event->text;
            break;
        case PortEvent::Kind::Progress:
            text << "progress " << event->percent << "% " << event->block << "/" << event->blocks
                 << " " << event->bytes;
            break;
        case PortEvent::Kind::Message:
            text << "message " << event->caption << ": " << event->text
                 << (event->failure ? " (failure)" : "");
            break;
        case PortEvent::Kind::Result:
            text << "result " << ResultName(event->result) << " " << event->exitStatus << " "
                 << event->seconds << " s " << event->bytes;
            break;
    }
    return text.str();
}

TEST(CliViewTest, JsonViewWritesOneObjectPerEventWithThePortAsGiven) {
    StreamCapture out;
    JsonView view(out.File(), "/dev/ttyUSB0");
    view.ShowData(Status(""));  // the dialog's first exchange: no status yet
    view.SetProgress(0);
    view.ShowData(Status("Search Device..."));
    view.SetProgress(0);
    view.ShowData(Status("Search Device..."));  // unchanged: no line
    view.SetProgress(50);                       // the bar moves, then its block is told
    view.SetBlockProgress(1, 2, 2048);
    view.SetBlockProgress(2, 2, 4096);  // block 0 goes last and moves no bar
    view.SetProgress(100);
    view.ShowMessageBox(Box("tarvik-flash", "Serial Port is unavaible!", kMbIconHand));
    view.ShowMessageBox(Box("tarvik-flash", "Send error= 5", kMbOk | kMbIconExclamation));
    view.ShowMessageBox(Box("Q", "question", 0x20));  // neither hand nor exclamation
    view.EndRun();
    view.BeginRun("usb");  // the demo's second road: its own port, its bytes added
    view.SetProgress(100);
    view.SetBlockProgress(1, 1, 2048);
    view.Failure("fw \"1\".bin: No such file");
    view.Finish(FlashResult::Failed, 1, 3.14159);
    EXPECT_EQ(
        Lines(out.Text()),
        (std::vector<std::string>{
            R"({"event":"progress","port":"/dev/ttyUSB0","percent":0})",
            R"({"event":"status","port":"/dev/ttyUSB0","text":"Search Device..."})",
            R"({"event":"progress","port":"/dev/ttyUSB0","percent":50,"block":1,"blocks":2,"bytes":2048})",
            R"({"event":"progress","port":"/dev/ttyUSB0","percent":50,"block":2,"blocks":2,"bytes":4096})",
            R"({"event":"progress","port":"/dev/ttyUSB0","percent":100})",
            R"({"event":"message","port":"/dev/ttyUSB0","caption":"tarvik-flash","text":"Serial Port is unavaible!","icon":"hand"})",
            R"({"event":"message","port":"/dev/ttyUSB0","caption":"tarvik-flash","text":"Send error= 5","icon":"exclamation"})",
            R"({"event":"message","port":"/dev/ttyUSB0","caption":"Q","text":"question","icon":"none"})",
            R"({"event":"progress","port":"usb","percent":100,"block":1,"blocks":1,"bytes":2048})",
            R"({"event":"message","port":"usb","caption":"tarvik-flash","text":"fw \"1\".bin: No such file","icon":"hand"})",
            R"({"event":"result","port":"usb","result":"failed","exit":1,"seconds":3.14,"bytes":6144})",
        }));
}

TEST(CliViewTest, WhatTheJsonViewWritesAParentReadsBackAndNothingCutShort) {
    const std::string awkward = std::string("say \"U5U\" \\ \x01\n\t\x1F\x7F") +
                                std::string(1, '\0') + "Gr\xC3\xBC\xC3\x9F" + "e \xE2\x82\xAC" +
                                " \xF0\x9D\x84\x9E \xF4\x8F\xBF\xBF";
    const auto fffd = [](std::size_t n) {  // n replacement characters
        std::string text;
        while (n-- > 0) {
            text += "\xEF\xBF\xBD";
        }
        return text;
    };
    const struct {
        std::function<void(JsonView&)> tell;
        std::vector<std::string> read;
    } cases[] = {
        // Quotes, backslashes, control characters and every valid character come back whole.
        {[&](JsonView& v) { v.ShowData(Status(awkward)); }, {"status " + awkward}},
        // Each byte that is not part of valid UTF-8 (cut short, overlong, a surrogate, past
        // U+10FFFF, stray) comes back as one U+FFFD; the valid bytes around it stay.
        {[](JsonView& v) { v.ShowMessageBox(Box("a\xC3", "\xC0\xAF/\xED\xA0\x80!", 0x10)); },
         {"message a" + fffd(1) + ": " + fffd(2) + "/" + fffd(3) + "! (failure)"}},
        {[](JsonView& v) { v.ShowData(Status("\xF4\x90\x80\x80|\x80x|\xFF")); },
         {"status " + fffd(4) + "|" + fffd(1) + "x|" + fffd(1)}},
        {[](JsonView& v) {
             v.SetProgress(0);
             v.SetProgress(33);
             v.SetBlockProgress(1, 3, 2048);
         },
         {"progress 0% 0/0 0", "progress 33% 1/3 2048"}},
        {[](JsonView& v) {
             v.SetBlockProgress(3, 3, 6144);
             v.Finish(FlashResult::Interrupted, 130, 0.5);
         },
         {"progress 0% 3/3 6144", "result interrupted 130 0.5 s 6144"}},
    };
    for (const auto& one : cases) {
        StreamCapture out;
        JsonView view(out.File(), "COM1");
        one.tell(view);
        std::vector<std::string> read;
        for (const std::string& line : Lines(out.Text())) {
            read.push_back(ReadBack(line));
            // One line each, whatever the text held; cut anywhere, it is no event at all.
            EXPECT_TRUE(std::none_of(line.begin(), line.end(), [](unsigned char c) {
                return c < 0x20;
            })) << line;
            for (std::size_t cut = 0; cut < line.size(); ++cut) {
                EXPECT_EQ(ReadBack(line.substr(0, cut)), "refused") << line.substr(0, cut);
            }
        }
        EXPECT_EQ(read, one.read);
    }
}

TEST(CliViewTest, AParentRefusesAnUnknownIncompleteOrOutOfRangeEventOrAWrongType) {
    for (const char* line : {
             R"({"event":"bogus","port":"C"})",
             R"({"event":"status","port":"C"})",
             R"({"event":"progress","port":"C","percent":101})",
             R"({"event":"progress","port":"C","percent":4.5})",
             R"({"event":"progress","port":"C","percent":"42"})",
             R"({"event":"progress","port":"C","percent":5,"block":1,"blocks":3})",
             R"({"event":"progress","port":"C","percent":5,"block":4,"blocks":3,"bytes":8192})",
             R"({"event":"progress","port":"C","percent":5,"block":0,"blocks":0,"bytes":0})",
             R"({"event":"progress","port":"C","percent":5,"block":"1","blocks":3,"bytes":2})",
             R"({"event":"progress","port":"C","percent":5,"block":1,"blocks":3,"bytes":-1})",
             R"({"event":"message","port":"C","caption":"a","text":"b","icon":1})",
             R"({"event":"result","port":"C","result":"fine","exit":0,"seconds":1,"bytes":0})",
             R"({"event":"result","port":"C","result":"failed","exit":0.5,"seconds":1,"bytes":0})",
             R"({"event":"result","port":"C","result":"failed","exit":0,"seconds":"1","bytes":0})",
             R"({"event":"result","port":"C","result":"failed","exit":0,"seconds":1})",
             R"({"event":"result","port":"C","result":"failed","exit":0,"seconds":1,"bytes":1.5})",
             R"(["event","status"])",
             "Simulated USB loader: no device is touched.",
         }) {
        EXPECT_EQ(ReadBack(line), "refused") << line;
    }
}

TEST(CliViewTest, QuietShowsTheBoxesOfAFailedRunInOrderAndOnlyFailureBoxesOtherwise) {
    {
        StreamCapture err;
        QuietView view(err.File());
        view.ShowData(Status("Progressing..."));
        view.SetProgress(50);
        view.SetBlockProgress(1, 2, 2048);
        view.ShowMessageBox(Box("tarvik-flash", "N,A,K", kMbOk));
        view.ShowMessageBox(Box("data", "NO Ack 2!", kMbOk));
        EXPECT_EQ(err.Text(), "");  // held until the end
        view.Finish(FlashResult::Failed, 1, 1);
        EXPECT_EQ(err.Text(), "tarvik-flash: N,A,K\ndata: NO Ack 2!\n");
    }
    {
        StreamCapture err;
        QuietView view(err.File());
        view.ShowMessageBox(Box("tarvik-flash", "Send error= 5", kMbIconExclamation));
        view.ShowMessageBox(Box("Update", "Download Finished!", kMbOk));
        view.Finish(FlashResult::Succeeded, 0, 1);
        EXPECT_EQ(err.Text(), "tarvik-flash: Send error= 5\n");
    }
    {
        StreamCapture err;
        QuietView view(err.File());
        view.Note("Simulated USB loader: no device is touched.");
        view.Failure("fw.bin: No such file");  // the command line's own: at once
        EXPECT_EQ(err.Text(), "tarvik-flash: fw.bin: No such file\n");
    }
}

// A terminal view on a time line the test moves by hand.
class CliTerminalViewTest : public ::testing::Test {
protected:
    void At(int ms) { m_now = TimePoint{} + milliseconds(ms); }
    TerminalView View(bool progressBar) {
        return TerminalView(m_out.File(), m_err.File(), progressBar, [this] { return m_now; });
    }

    StreamCapture m_out;
    StreamCapture m_err;
    TimePoint m_now{};
};

TEST_F(CliTerminalViewTest, TheBarTellsBlocksRateAndTimeLeftAndTheEndHowMuchWentInHowLong) {
    TerminalView view = View(true);
    view.BeginRun("COM1");
    view.SetProgress(0);
    At(1000);
    view.SetProgress(0);  // the search sets 0 over and over; the last one starts the download
    view.ShowData(Status("Progressing..."));
    const struct {
        int ms;
        int percent;
        std::uint32_t done;
        const char* bar;
    } blocks[] = {
        // The first block alone: its rate runs from the start.
        {3000, 25, 1, "[#####...............]  25%  1/4 blocks  1.0 KiB/s  0:06 left"},
        // Then from the first block's acknowledgement, so the pause before it counts no more.
        {3500, 50, 2, "[##########..........]  50%  2/4 blocks  4.0 KiB/s  0:01 left"},
        {4500, 75, 3, "[###############.....]  75%  3/4 blocks  2.7 KiB/s  0:01 left"},
        {5000, 75, 4, "[###############.....]  75%  4/4 blocks  3.0 KiB/s  0:00 left"},
    };
    for (const auto& block : blocks) {
        At(block.ms);
        view.SetProgress(block.percent);
        view.SetBlockProgress(block.done, 4, block.done * 2048u);
        const std::string out = m_out.Text();
        EXPECT_EQ(out.substr(out.rfind("\r\033[K") + 4), block.bar);
    }
    view.ShowMessageBox(Box("Update", "Download Finished!", kMbOk));
    const std::string out = m_out.Text();
    EXPECT_EQ(out.substr(out.rfind("\r\033[K")), std::string("\r\033[K") + blocks[3].bar);
    view.SetProgress(100);
    view.ShowData(Status("Download Finished!"));
    At(9000);
    view.EndRun();
    view.Finish(FlashResult::Succeeded, 0, 9);  // said once, by the run
    EXPECT_EQ(m_out.Text().substr(out.size()),
              "\r\033[K[####################] 100%  4/4 blocks  3.0 KiB/s  0:00 left"
              "\r\033[KDownload Finished!\n8192 bytes in 4.0 s (2.0 KiB/s)\n");
    EXPECT_EQ(m_err.Text(), "Update: Download Finished!\n");
}

TEST_F(CliTerminalViewTest, ElsewherePercentLinesThenTheTotalOfAWholeDownloadOnly) {
    TerminalView view = View(false);
    view.Note("--- USB Port");
    view.SetProgress(0);
    view.ShowData(Status("Progressing..."));
    At(500);
    view.SetProgress(50);
    view.SetBlockProgress(1, 2, 2048);
    At(1000);
    view.SetBlockProgress(2, 2, 4096);
    view.SetProgress(100);
    view.EndRun();
    view.BeginRun("COM1");  // a run refused after its first block: no total
    view.SetProgress(50);
    view.SetBlockProgress(1, 2, 2048);
    view.Failure("cannot write the trace /nowhere/t.log");
    view.EndRun();
    view.Finish(FlashResult::Failed, 1, 0);
    EXPECT_EQ(m_out.Text(),
              "--- USB Port\nprogress 0%\nProgressing...\nprogress 50%\nprogress 100%\n"
              "4096 bytes in 1.0 s (4.0 KiB/s)\nprogress 50%\n");
    EXPECT_EQ(m_err.Text(), "tarvik-flash: cannot write the trace /nowhere/t.log\n");
}

}  // namespace
}  // namespace tarvik::cli
