// The command line's views: the JSON lines, and --quiet's failures only.
#include <gtest/gtest.h>

#include "cli/JsonValue.h"
#include "cli/JsonView.h"
#include "cli/QuietView.h"
#include "cli/StreamCapture.h"
#include "cli/TerminalView.h"

namespace tarvik::cli {
namespace {

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

TEST(CliViewTest, JsonViewWritesOneObjectPerEventWithThePortAsGiven) {
    StreamCapture out;
    JsonView view(out.File(), "/dev/ttyUSB0");
    view.ShowData(Status(""));  // the dialog's first exchange: no status yet
    view.SetProgress(0);
    view.ShowData(Status("Search Device..."));
    view.SetProgress(0);
    view.ShowData(Status("Search Device..."));  // unchanged: no line
    view.ShowData(Status(" Device Found!"));
    view.SetProgress(33);
    view.ShowMessageBox(Box("Fail", "Timeout fail!", kMbOk));
    view.ShowMessageBox(Box("tarvik-flash", "Serial Port is unavaible!", kMbIconHand));
    view.ShowMessageBox(Box("tarvik-flash", "Send error= 5", kMbOk | kMbIconExclamation));
    view.ShowMessageBox(Box("Q", "question", 0x20));  // neither hand nor exclamation
    view.Failure("fw \"1\".bin: No such file");
    view.Finish(FlashResult::Failed, 1, 3.14159);
    EXPECT_EQ(
        Lines(out.Text()),
        (std::vector<std::string>{
            R"({"event":"progress","port":"/dev/ttyUSB0","percent":0})",
            R"({"event":"status","port":"/dev/ttyUSB0","text":"Search Device..."})",
            R"({"event":"status","port":"/dev/ttyUSB0","text":" Device Found!"})",
            R"({"event":"progress","port":"/dev/ttyUSB0","percent":33})",
            R"({"event":"message","port":"/dev/ttyUSB0","caption":"Fail","text":"Timeout fail!","icon":"none"})",
            R"({"event":"message","port":"/dev/ttyUSB0","caption":"tarvik-flash","text":"Serial Port is unavaible!","icon":"hand"})",
            R"({"event":"message","port":"/dev/ttyUSB0","caption":"tarvik-flash","text":"Send error= 5","icon":"exclamation"})",
            R"({"event":"message","port":"/dev/ttyUSB0","caption":"Q","text":"question","icon":"none"})",
            R"({"event":"message","port":"/dev/ttyUSB0","caption":"tarvik-flash","text":"fw \"1\".bin: No such file","icon":"hand"})",
            R"({"event":"result","port":"/dev/ttyUSB0","result":"failed","exit":1,"seconds":3.14})",
        }));
}

TEST(CliViewTest, JsonViewKeepsEveryLineValidAndNamesTheRoadOfEachDemoRun) {
    StreamCapture out;
    JsonView view(out.File(), "COM1");
    view.ShowData(Status("reply: \x01\xFF\"\n"));
    view.SetProgress(100);
    view.BeginRun("usb");
    view.SetProgress(100);  // a new road starts its progress afresh
    view.ShowMessageBox(Box("Update", "Download Finished!", kMbOk));
    view.Finish(FlashResult::Interrupted, 130, 0.5);
    const auto lines = Lines(out.Text());
    ASSERT_EQ(lines.size(), 5u) << out.Text();
    for (const auto& line : lines) {
        ASSERT_TRUE(ParseJson(line)) << line;
    }
    EXPECT_EQ(ParseJson(lines[0])->String("text"), "reply: \x01\xEF\xBF\xBD\"\n");
    EXPECT_EQ(ParseJson(lines[1])->String("port"), "COM1");
    EXPECT_EQ(ParseJson(lines[2])->String("port"), "usb");
    EXPECT_EQ(ParseJson(lines[2])->Number("percent"), 100);
    EXPECT_EQ(
        lines[4],
        R"({"event":"result","port":"usb","result":"interrupted","exit":130,"seconds":0.50})");
}

TEST(CliViewTest, QuietShowsTheBoxesOfAFailedRunInOrderAndOnlyFailureBoxesOtherwise) {
    {
        StreamCapture err;
        QuietView view(err.File());
        view.ShowData(Status("Progressing..."));
        view.SetProgress(50);
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

TEST(CliViewTest, TerminalNotesGoOutAndCommandLineFailuresGoToTheErrorStream) {
    StreamCapture out;
    StreamCapture err;
    TerminalView view(out.File(), err.File(), false);
    view.Note("--- USB Port");
    view.ShowData(Status("Progressing..."));
    view.Failure("cannot write the trace /nowhere/t.log");
    view.Finish(FlashResult::Failed, 1, 0);
    EXPECT_EQ(out.Text(), "--- USB Port\nProgressing...\n");
    EXPECT_EQ(err.Text(), "tarvik-flash: cannot write the trace /nowhere/t.log\n");
}

}  // namespace
}  // namespace tarvik::cli
