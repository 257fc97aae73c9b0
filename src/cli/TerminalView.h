#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "app/DialogView.h"

namespace tarvik::cli {

// The dialog on a terminal: each status text as a line, progress as a bar on a terminal and
// as percent lines elsewhere, each message box as one line "<caption>: <text>" on the error
// stream. Boxes need no confirmation here.
class TerminalView : public DialogView {
public:
    TerminalView(std::FILE* out, std::FILE* err, bool progressBar);

    void ShowData(const DialogData& data) override;
    void ReadData(DialogData& data) override;
    void ShowMessageBox(const MessageBoxRequest& box) override;
    void SetProgress(int position) override;
    void EnableRun(bool enable) override;
    std::optional<std::filesystem::path> AskFirmwareFile() override;
    // The command line asks nothing: Ctrl+C is its answer.
    bool Confirm(const std::string&, const std::string&) override { return true; }

    // Ends the bar's line, so whatever is printed next starts on its own.
    void Finish();

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
