#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "cli/CliView.h"
#include "cli/TransferRate.h"

namespace tarvik::cli {

// The dialog on a terminal: each status text as a line, progress as a bar on a terminal and
// as percent lines elsewhere, each message box as one line "<caption>: <text>" on the error
// stream. Boxes need no confirmation here. The bar tells blocks, rate and time left:
//   [########............]  42%  54/128 blocks  11.1 KiB/s  0:06 left
// and a download whose every block went in ends with "262144 bytes in 23.1 s (11.1 KiB/s)".
class TerminalView : public CliView {
public:
    TerminalView(std::FILE* out, std::FILE* err, bool progressBar, TimeSource now = RealTime());

    void ShowData(const DialogData& data) override;
    void ShowMessageBox(const MessageBoxRequest& box) override;
    void SetProgress(int position) override;
    void SetBlockProgress(std::uint32_t done, std::uint32_t total, std::uint64_t bytes) override;

    void Note(const std::string& text) override;
    void Failure(const std::string& text) override;
    void BeginRun(const std::string&) override;
    // Ends the bar's line, so whatever is printed next starts on its own, and says how much
    // went in how long.
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
    const TimeSource m_now;
    std::string m_status;
    int m_progress = -1;
    bool m_barShown = false;
    TransferRate m_rate;
};

}  // namespace tarvik::cli
