#include "cli/QuietView.h"

namespace tarvik::cli {

QuietView::QuietView(std::FILE* err) : m_err(err) {}

void QuietView::ShowMessageBox(const MessageBoxRequest& box) {
    std::lock_guard lock(m_lock);
    m_boxes.push_back(box);
}

void QuietView::Failure(const std::string& text) {
    std::lock_guard lock(m_lock);
    std::fprintf(m_err, "tarvik-flash: %s\n", text.c_str());
    std::fflush(m_err);
}

void QuietView::Finish(FlashResult result, int, double) {
    std::lock_guard lock(m_lock);
    for (const MessageBoxRequest& box : m_boxes) {
        if (result != FlashResult::Succeeded || IsFailureBox(box)) {
            std::fprintf(m_err, "%s: %s\n", box.caption.c_str(), box.text.c_str());
        }
    }
    std::fflush(m_err);
    m_boxes.clear();
}

}  // namespace tarvik::cli
