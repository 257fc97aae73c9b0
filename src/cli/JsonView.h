#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "cli/CliView.h"

namespace tarvik::cli {

// An event as it is written: its members stay in the order they were added.
using JsonEvent = nlohmann::ordered_json;

// One line of JSON, without its newline; a byte that is not UTF-8 becomes U+FFFD, so whatever
// a device or a file name holds, the line stays valid.
std::string EventLine(const JsonEvent& event);
// A time as the events give it, to the hundredth of a second.
double Hundredths(double seconds);

// The message and result events, as a child writes them and as the parent writes them for a
// child that could not.
JsonEvent MessageEvent(const std::string& port, const std::string& caption, const std::string& text,
                       const char* icon);
JsonEvent ResultEvent(const std::string& port, FlashResult result, int exitStatus, double seconds,
                      std::uint64_t bytes);
// A failure of the command line itself, in the hand icon's box of the program's name.
JsonEvent CommandLineFailureEvent(const std::string& port, const std::string& text);

// The dialog as JSON lines, one object per event, each flushed as soon as it is written:
//   {"event":"status","port":"COM1","text":"Search Device..."}
//   {"event":"progress","port":"COM1","percent":42,"block":54,"blocks":128,"bytes":110592}
//       (one for each acknowledged block; a change of the percent between blocks, such as
//       0 at the start and 100 at the end, comes alone: {"event":"progress",...,"percent":0})
//   {"event":"message","port":"COM1","caption":"Fail","text":"Timeout fail!","icon":"none"}
//   {"event":"result","port":"COM1","result":"succeeded","exit":0,"seconds":12.34,
//    "bytes":262144}  (last)
// "port" is the port as given on the command line.
class JsonView : public CliView {
public:
    JsonView(std::FILE* out, std::string port);

    void ShowData(const DialogData& data) override;
    void ShowMessageBox(const MessageBoxRequest& box) override;
    void SetProgress(int position) override;
    void SetBlockProgress(std::uint32_t done, std::uint32_t total, std::uint64_t bytes) override;

    void Note(const std::string&) override {}
    void Failure(const std::string& text) override;
    void BeginRun(const std::string& port) override;
    void EndRun() override;
    void Finish(FlashResult result, int exitStatus, double seconds) override;

private:
    void Emit(const JsonEvent& event);
    // Any other event: the percent still pending goes out first.
    void Write(const JsonEvent& event);
    void WritePendingPercent();
    JsonEvent ProgressEvent() const;

    std::mutex m_lock;
    std::FILE* m_out;
    std::string m_port;
    std::string m_status;
    int m_progress = -1;
    // The percent changed and no block has said so yet: the dialog moves its bar just before
    // it reports the block, and the two make one event.
    bool m_percentPending = false;
    std::uint64_t m_runBytes = 0;      // acknowledged in this run of the dialog
    std::uint64_t m_earlierBytes = 0;  // in the runs before it (the demo makes two)
};

}  // namespace tarvik::cli
