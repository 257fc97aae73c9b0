#include "cli/TerminalView.h"

namespace tarvik::cli {
namespace {

// Narrow enough that the bar and its figures fit on a line of 80 columns.
constexpr int kBarWidth = 20;

}  // namespace

TerminalView::TerminalView(std::FILE* out, std::FILE* err, bool progressBar, TimeSource now)
    : m_out(out), m_err(err), m_progressBar(progressBar), m_now(std::move(now)) {}

void TerminalView::ClearBar() {
    if (m_barShown) {
        std::fputs("\r\033[K", m_out);
        m_barShown = false;
    }
}

void TerminalView::DrawBar() {
    if (!m_progressBar || m_progress < 0) {
        return;
    }
    const auto filled = static_cast<std::size_t>(m_progress * kBarWidth / 100);
    std::string line = "\r\033[K[";
    line.append(filled, '#');
    line.append(kBarWidth - filled, '.');
    char figure[8];
    std::snprintf(figure, sizeof figure, "] %3d%%", m_progress);
    line.append(figure);
    if (m_rate.Total() > 0) {
        line.append("  ").append(std::to_string(m_rate.Done()));
        line.append("/").append(std::to_string(m_rate.Total())).append(" blocks");
        if (const std::string rate = m_rate.RateText(); !rate.empty()) {
            line.append("  ").append(rate);
        }
    }
    std::fputs(line.c_str(), m_out);
    std::fflush(m_out);
    m_barShown = true;
}

void TerminalView::RedrawBar() {
    // Only while blocks are going out: not during the search, not below the final lines.
    if (m_progress > 0 && m_progress < 100) {
        DrawBar();
    }
}

void TerminalView::ShowData(const DialogData& data) {
    std::lock_guard lock(m_lock);
    if (data.m_strStatus == m_status) {
        return;
    }
    m_status = data.m_strStatus;
    ClearBar();
    std::fprintf(m_out, "%s\n", m_status.c_str());
    std::fflush(m_out);
    RedrawBar();
}

void TerminalView::ShowMessageBox(const MessageBoxRequest& box) {
    std::lock_guard lock(m_lock);
    ClearBar();
    std::fflush(m_out);
    std::fprintf(m_err, "%s: %s\n", box.caption.c_str(), box.text.c_str());
    std::fflush(m_err);
    RedrawBar();
}

void TerminalView::SetProgress(int position) {
    std::lock_guard lock(m_lock);
    if (position == 0 && m_rate.Done() == 0) {
        // Both roads set the bar back to 0 as their download begins (the serial search does
        // too, over and over): the last 0 before the first block is the download's start.
        m_rate.Start(m_now());
    }
    if (position == m_progress) {
        return;
    }
    m_progress = position;
    if (m_progressBar) {
        DrawBar();
    } else {
        std::fprintf(m_out, "progress %d%%\n", position);
        std::fflush(m_out);
    }
}

void TerminalView::SetBlockProgress(std::uint32_t done, std::uint32_t total, std::uint64_t bytes) {
    std::lock_guard lock(m_lock);
    m_rate.Block(done, total, bytes, m_now());
    DrawBar();
}

void TerminalView::Note(const std::string& text) {
    std::lock_guard lock(m_lock);
    ClearBar();
    std::fprintf(m_out, "%s\n", text.c_str());
    std::fflush(m_out);
}

void TerminalView::Failure(const std::string& text) {
    std::lock_guard lock(m_lock);
    ClearBar();
    std::fflush(m_out);
    std::fprintf(m_err, "tarvik-flash: %s\n", text.c_str());
    std::fflush(m_err);
}

void TerminalView::BeginRun(const std::string&) {
    std::lock_guard lock(m_lock);
    m_rate.Start(m_now());
}

void TerminalView::EndRun() {
    std::lock_guard lock(m_lock);
    if (m_barShown) {
        std::fputs("\n", m_out);
        m_barShown = false;
    }
    // A run that stopped part way has its boxes to say so; this line is for a download
    // that went in whole.
    if (m_rate.Complete()) {
        std::fprintf(m_out, "%s\n", m_rate.TotalText().c_str());
    }
    m_rate = TransferRate();
    std::fflush(m_out);
}

}  // namespace tarvik::cli
