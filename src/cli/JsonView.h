#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "cli/CliView.h"
#include "cli/JsonText.h"

namespace tarvik::cli {

// The message and result events, as a child writes them and as the parent writes them for a
// child that could not.
JsonObject MessageEvent(const std::string& port, const std::string& caption,
                        const std::string& text, const char* icon);
JsonObject ResultEvent(const std::string& port, FlashResult result, int exitStatus, double seconds);
// A failure of the command line itself, in the hand icon's box of the program's name.
JsonObject CommandLineFailureEvent(const std::string& port, const std::string& text);

// The dialog as JSON lines, one object per event, each flushed as soon as it is written:
//   {"event":"status","port":"COM1","text":"Search Device..."}
//   {"event":"progress","port":"COM1","percent":42}        (only when the percent changes)
//   {"event":"message","port":"COM1","caption":"Fail","text":"Timeout fail!","icon":"none"}
//   {"event":"result","port":"COM1","result":"succeeded","exit":0,"seconds":12.34}  (last)
// "port" is the port as given on the command line.
class JsonView : public CliView {
public:
    JsonView(std::FILE* out, std::string port);

    void ShowData(const DialogData& data) override;
    void ShowMessageBox(const MessageBoxRequest& box) override;
    void SetProgress(int position) override;

    void Note(const std::string&) override {}
    void Failure(const std::string& text) override;
    void BeginRun(const std::string& port) override;
    void EndRun() override {}
    void Finish(FlashResult result, int exitStatus, double seconds) override;

private:
    void Write(const std::string& line);

    std::mutex m_lock;
    std::FILE* m_out;
    std::string m_port;
    std::string m_status;
    int m_progress = -1;
};

}  // namespace tarvik::cli
