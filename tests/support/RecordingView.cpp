#include "support/RecordingView.h"

#include <algorithm>

namespace tarvik::test {

void RecordingView::Record(std::unique_lock<std::mutex>& lock, std::string event) {
    m_events.push_back(event);
    m_changed.notify_all();
    const auto hook = m_eventHook;
    lock.unlock();
    if (hook) {
        hook(event);
    }
}

void RecordingView::ShowData(const DialogData& data) {
    std::unique_lock lock(m_lock);
    const bool changed = data.m_strStatus != m_controls.m_strStatus;
    m_controls = data;
    if (changed) {
        Record(lock, "status " + data.m_strStatus);
    }
}

void RecordingView::ShowMessageBox(const MessageBoxRequest& box) {
    std::unique_lock lock(m_lock);
    m_boxes.push_back(box);
    Record(lock,
           (box.kind == MessageKind::Window ? "box " : "appbox ") + box.caption + ": " + box.text);
}

void RecordingView::SetProgress(int position) {
    std::unique_lock lock(m_lock);
    Record(lock, "progress " + std::to_string(position));
}

void RecordingView::EnableRun(bool enable) {
    std::unique_lock lock(m_lock);
    m_runEnabled = enable;
    Record(lock, enable ? "run on" : "run off");
}

std::optional<std::filesystem::path> RecordingView::AskFirmwareFile() {
    std::lock_guard lock(m_lock);
    if (m_fileChoices.empty()) {
        return std::nullopt;
    }
    auto choice = m_fileChoices.front();
    m_fileChoices.pop_front();
    return choice;
}

bool RecordingView::Confirm(const std::string& caption, const std::string& text) {
    std::unique_lock lock(m_lock);
    const bool answer = m_confirmAnswer;
    Record(lock, "confirm " + caption + ": " + text);
    return answer;
}

std::vector<std::string> RecordingView::Boxes() const {
    std::lock_guard lock(m_lock);
    std::vector<std::string> boxes;
    std::copy_if(
        m_events.begin(), m_events.end(), std::back_inserter(boxes),
        [](const std::string& e) { return e.starts_with("box ") || e.starts_with("appbox "); });
    return boxes;
}

bool RecordingView::WaitFor(const std::string& event, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, timeout, [&] {
        return std::find(m_events.begin(), m_events.end(), event) != m_events.end();
    });
}

}  // namespace tarvik::test
