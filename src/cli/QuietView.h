#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "cli/CliView.h"

namespace tarvik::cli {

// --quiet: failures only. Status texts and progress are not shown. The boxes are held until
// the command ends: after a failure (or Ctrl+C) every box goes out in order as
// "<caption>: <text>" on the error stream, since the boxes of a failed run are what tells
// why; after a success only the boxes that carry a failure icon do, and usually none.
class QuietView : public CliView {
public:
    explicit QuietView(std::FILE* err);

    void ShowData(const DialogData&) override {}
    void ShowMessageBox(const MessageBoxRequest& box) override;
    void SetProgress(int) override {}

    void Note(const std::string&) override {}
    void Failure(const std::string& text) override;
    void BeginRun(const std::string&) override {}
    void EndRun() override {}
    void Finish(FlashResult result, int exitStatus, double seconds) override;

private:
    std::mutex m_lock;
    std::FILE* m_err;
    std::vector<MessageBoxRequest> m_boxes;
};

}  // namespace tarvik::cli
