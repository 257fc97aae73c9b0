#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "cli/CliView.h"

namespace tarvik::cli {

// The dialog on a terminal: each status text as a line, progress as a bar on a terminal and
// as percent lines elsewhere, each message box as one line "<caption>: <text>" on the error
// stream. Boxes need no confirmation here.
class TerminalView : public CliView {
public:
    TerminalView(std::FILE* out, std::FILE* err, bool progressBar);

    void ShowData(const DialogData& data) override;
    void ShowMessageBox(const MessageBoxRequest& box) override;
    void SetProgress(int position) override;

    void Note(const std::string& text) override;
    void Failure(const std::string& text) override;
    void BeginRun(const std::string&) override {}
    // Ends the bar's line, so whatever is printed next starts on its own.
    void EndRun() override;
    void Finish(FlashResult, int, double) override { EndRun(); }

private:
    void ClearBar();
    void DrawBar();
    void RedrawBar();

    std::mutex m_lock;
    std::FILE* m_out;
    std::FILE* m_err;
    const bool m_progressBar;
    std::string m_status;
    int m_progress = -1;
    bool m_barShown = false;
};

}  // namespace tarvik::cli
