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

void RecordingView::OnEvent(std::function<void(const std::string&)> hook) {
    std::lock_guard lock(m_lock);
    m_eventHook = std::move(hook);
}

void RecordingView::ShowData(const DialogData& data) {
    std::unique_lock lock(m_lock);
    const bool changed = data.m_strStatus != m_controls.m_strStatus;
    m_controls = data;
    if (changed) {
        Record(lock, "status " + data.m_strStatus);
    }
}

void RecordingView::ReadData(DialogData& data) {
    std::lock_guard lock(m_lock);
    data = m_controls;
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

void RecordingView::AnswerConfirm(bool yes) {
    std::lock_guard lock(m_lock);
    m_confirmAnswer = yes;
}

std::vector<std::string> RecordingView::Events() const {
    std::lock_guard lock(m_lock);
    return m_events;
}

std::vector<std::string> RecordingView::Boxes() const {
    std::lock_guard lock(m_lock);
    std::vector<std::string> boxes;
    std::copy_if(
        m_events.begin(), m_events.end(), std::back_inserter(boxes),
        [](const std::string& e) { return e.starts_with("box ") || e.starts_with("appbox "); });
    return boxes;
}

std::vector<MessageBoxRequest> RecordingView::BoxRequests() const {
    std::lock_guard lock(m_lock);
    return m_boxes;
}

DialogData RecordingView::Controls() const {
    std::lock_guard lock(m_lock);
    return m_controls;
}

bool RecordingView::RunEnabled() const {
    std::lock_guard lock(m_lock);
    return m_runEnabled;
}

void RecordingView::Type(const std::function<void(DialogData&)>& edit) {
    std::lock_guard lock(m_lock);
    edit(m_controls);
}

void RecordingView::QueueFileChoice(std::optional<std::filesystem::path> choice) {
    std::lock_guard lock(m_lock);
    m_fileChoices.push_back(std::move(choice));
}

bool RecordingView::WaitFor(const std::string& event, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, timeout, [&] {
        return std::find(m_events.begin(), m_events.end(), event) != m_events.end();
    });
}

}  // namespace tarvik::test
