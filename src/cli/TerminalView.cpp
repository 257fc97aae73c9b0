#include "cli/TerminalView.h"

namespace tarvik::cli {
namespace {

constexpr int kBarWidth = 40;

}  // namespace

TerminalView::TerminalView(std::FILE* out, std::FILE* err, bool progressBar)
    : m_out(out), m_err(err), m_progressBar(progressBar) {}

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
    const int filled = m_progress * kBarWidth / 100;
    std::fprintf(
        m_out, "\r[%s%s] %3d%%", std::string(static_cast<std::size_t>(filled), '#').c_str(),
        std::string(static_cast<std::size_t>(kBarWidth - filled), '.').c_str(), m_progress);
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

void TerminalView::EndRun() {
    std::lock_guard lock(m_lock);
    if (m_barShown) {
        std::fputs("\n", m_out);
        std::fflush(m_out);
        m_barShown = false;
    }
}

}  // namespace tarvik::cli
