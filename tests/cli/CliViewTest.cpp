// The command line's views: the JSON lines and what a parent reads back of them, the bar on
// a terminal on a time line of the test's own, and --quiet's failures only.
#include <gtest/gtest.h>

#include "cli/CliTestSupport.h"
#include "cli/JsonView.h"
#include "cli/PortEvents.h"
#include "cli/QuietView.h"
#include "cli/TerminalView.h"

namespace tarvik::cli {
namespace {

using test::Lines;
using test::StreamCapture;
using test::Strings;

DialogData Status(const std::string& text) {
    DialogData data;
    data.m_strStatus = text;
    return data;
}

MessageBoxRequest Box(const std::string& caption, const std::string& text, unsigned type = kMbOk) {
    return {MessageKind::Window, caption, text, type};
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
    view.ShowMessageBox(Box("Q", "question", 0x20));           // neither hand nor exclamation
    view.Note("Simulated USB loader: no device is touched.");  // for a person only
    view.EndRun();
    view.BeginRun("usb");  // the demo's second road: its own port, its bytes added
    view.SetProgress(100);
    view.SetBlockProgress(1, 1, 2048);
    view.Failure("fw \"1\".bin: No such file");
    view.Finish(FlashResult::Failed, 1, 3.14159);
    EXPECT_EQ(out.Text(), R"({"event":"progress","port":"/dev/ttyUSB0","percent":0}
{"event":"status","port":"/dev/ttyUSB0","text":"Search Device..."}
{"event":"progress","port":"/dev/ttyUSB0","percent":50,"block":1,"blocks":2,"bytes":2048}
{"event":"progress","port":"/dev/ttyUSB0","percent":50,"block":2,"blocks":2,"bytes":4096}
{"event":"progress","port":"/dev/ttyUSB0","percent":100}
{"event":"message","port":"/dev/ttyUSB0","caption":"tarvik-flash","text":"Serial Port is unavaible!","icon":"hand"}
{"event":"message","port":"/dev/ttyUSB0","caption":"tarvik-flash","text":"Send error= 5","icon":"exclamation"}
{"event":"message","port":"/dev/ttyUSB0","caption":"Q","text":"question","icon":"none"}
{"event":"progress","port":"usb","percent":100,"block":1,"blocks":1,"bytes":2048}
{"event":"message","port":"usb","caption":"tarvik-flash","text":"fw \"1\".bin: No such file","icon":"hand"}
{"event":"result","port":"usb","result":"failed","exit":1,"seconds":3.14,"bytes":6144}
)");
}

// Every field a parent reads of one line, or "refused".
std::string ReadBack(const std::string& line) {
    const auto e = ParsePortEvent(line);
    if (!e) {
        return "refused";
    }
    std::ostringstream text;
    text << static_cast<int>(e->kind) << " " << e->caption << "|" << e->text
         << (e->failure ? "|failure " : " ") << e->percent << "% " << e->block << "/" << e->blocks
         << " " << e->bytes << " " << ResultName(e->result) << " " << e->exitStatus << " "
         << e->seconds;
    return text.str();
}

TEST(CliViewTest, AParentReadsBackWhatTheJsonViewWritesAndRefusesAnyOtherLine) {
    const std::string awkward = std::string("say \"U5U\" \\ \x01\n\t\x1F\x7F") +
                                std::string(1, '\0') + "Gr\xC3\xBC\xC3\x9F" + "e \xE2\x82\xAC" +
                                " \xF0\x9D\x84\x9E \xF4\x8F\xBF\xBF";
    const std::string r = "\xEF\xBF\xBD";  // the replacement character
    StreamCapture out;
    JsonView view(out.File(), "COM1");
    // Quotes, backslashes, control characters and every valid character come back whole.
    view.ShowData(Status(awkward));
    // Each byte that is not part of valid UTF-8 (cut short, overlong, a surrogate, past
    // U+10FFFF, stray) comes back as one U+FFFD; the valid bytes around it stay.
    view.ShowMessageBox(Box("a\xC3", "\xC0\xAF/\xED\xA0\x80!", kMbIconHand));
    view.ShowData(Status("\xF4\x90\x80\x80|\x80x|\xFF"));
    view.SetProgress(33);
    view.SetBlockProgress(1, 3, 2048);
    view.Finish(FlashResult::Interrupted, 130, 0.5);
    Strings read;
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
    EXPECT_EQ(read,
              (Strings{"0 |" + awkward + " 0% 0/0 0 failed 0 0",
                       "2 a" + r + "|" + r + r + "/" + r + r + r + "!|failure 0% 0/0 0 failed 0 0",
                       "0 |" + r + r + r + r + "|" + r + "x|" + r + " 0% 0/0 0 failed 0 0",
                       "1 | 33% 1/3 2048 failed 0 0", "3 | 0% 0/0 2048 interrupted 130 0.5"}));
    // An unknown, incomplete or out-of-range event, or one with a field of the wrong type.
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

TEST(CliViewTest, QuietHoldsTheBoxesAndShowsAllOfAFailedRunButOnlyFailureBoxesOtherwise) {
    StreamCapture err, okErr;
    QuietView failed(err.File());
    failed.ShowData(Status("Progressing..."));
    failed.SetProgress(50);
    failed.SetBlockProgress(1, 2, 2048);
    failed.Note("Simulated USB loader: no device is touched.");
    failed.ShowMessageBox(Box("tarvik-flash", "N,A,K"));
    failed.ShowMessageBox(Box("data", "NO Ack 2!"));
    failed.Failure("cannot write the trace t.log");  // the command line's own: at once
    EXPECT_EQ(err.Text(), "tarvik-flash: cannot write the trace t.log\n");
    failed.Finish(FlashResult::Failed, 1, 1);
    EXPECT_EQ(err.Text(),
              "tarvik-flash: cannot write the trace t.log\ntarvik-flash: N,A,K\ndata: NO Ack 2!\n");

    QuietView succeeded(okErr.File());
    succeeded.ShowMessageBox(Box("tarvik-flash", "Send error= 5", kMbIconExclamation));
    succeeded.ShowMessageBox(Box("Update", "Download Finished!"));
    succeeded.Finish(FlashResult::Succeeded, 0, 1);
    EXPECT_EQ(okErr.Text(), "tarvik-flash: Send error= 5\n");
}

// A terminal view on a time line the test moves by hand.
TEST(CliViewTest, TheBarTellsBlocksRateAndTimeLeftAndTheEndHowMuchWentInHowLong) {
    StreamCapture term, errs;
    TimePoint now{};
    const auto At = [&](int ms) { now = TimePoint{} + std::chrono::milliseconds(ms); };
    TerminalView view(term.File(), errs.File(), true, [&] { return now; });
    view.BeginRun("COM1");
    view.SetProgress(0);
    At(1000);
    view.SetProgress(0);  // the search sets 0 over and over; the last one starts the download
    view.ShowData(Status("Progressing..."));
    const std::pair<int, const char*> blocks[] = {
        // The first block alone: its rate runs from the start.
        {3000, "[#####...............]  25%  1/4 blocks  1.0 KiB/s  0:06 left"},
        // Then from the first block's acknowledgement, so the pause before it counts no more.
        {3500, "[##########..........]  50%  2/4 blocks  4.0 KiB/s  0:01 left"},
        {4500, "[###############.....]  75%  3/4 blocks  2.7 KiB/s  0:01 left"},
        {5000, "[###############.....]  75%  4/4 blocks  3.0 KiB/s  0:00 left"},
    };
    for (std::uint32_t done = 1; done <= 4; ++done) {
        At(blocks[done - 1].first);
        view.SetProgress(std::min<int>(25 * done, 75));
        view.SetBlockProgress(done, 4, done * 2048u);
        const std::string out = term.Text();
        EXPECT_EQ(out.substr(out.rfind("\r\033[K") + 4), blocks[done - 1].second);
    }
    view.ShowMessageBox(Box("Update", "Download Finished!"));
    const std::string out = term.Text();
    EXPECT_EQ(out.substr(out.rfind("\r\033[K")), std::string("\r\033[K") + blocks[3].second);
    view.SetProgress(100);
    view.ShowData(Status("Download Finished!"));
    At(9000);
    view.EndRun();
    view.Finish(FlashResult::Succeeded, 0, 9);  // said once, by the run
    EXPECT_EQ(term.Text().substr(out.size()),
              "\r\033[K[####################] 100%  4/4 blocks  3.0 KiB/s  0:00 left"
              "\r\033[KDownload Finished!\n8192 bytes in 4.0 s (2.0 KiB/s)\n");
    EXPECT_EQ(errs.Text(), "Update: Download Finished!\n");
    const std::size_t end = term.Text().size();
    view.BeginRun("usb");  // a run refused after its first block: its bar ends, no total
    view.SetProgress(50);
    view.SetBlockProgress(1, 2, 2048);
    view.Finish(FlashResult::Failed, 1, 0);
    EXPECT_EQ(
        term.Text().substr(end),
        "\r\033[K[##########..........]  50%\r\033[K[##########..........]  50%  1/2 blocks\n");
}

}  // namespace
}  // namespace tarvik::cli
