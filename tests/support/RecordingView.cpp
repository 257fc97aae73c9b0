#include "support/RecordingView.h"

#include <algorithm>

namespace tarvik::test {

void RecordingView::Record(std::string event) {
    m_events.push_back(std::move(event));
    m_changed.notify_all();
}

void RecordingView::ShowData(const DialogData& data) {
    std::lock_guard lock(m_lock);
    if (data.m_strStatus != m_controls.m_strStatus) {
        Record("status " + data.m_strStatus);
    }
    m_controls = data;
}

void RecordingView::ReadData(DialogData& data) {
    std::lock_guard lock(m_lock);
    data = m_controls;
}

void RecordingView::ShowMessageBox(const MessageBoxRequest& box) {
    std::function<void(const MessageBoxRequest&)> hook;
    {
        std::lock_guard lock(m_lock);
        m_boxes.push_back(box);
        Record((box.kind == MessageKind::Window ? "box " : "appbox ") + box.caption + ": " +
               box.text);
        hook = m_boxHook;
    }
    if (hook) {
        hook(box);
    }
}

void RecordingView::SetProgress(int position) {
    std::lock_guard lock(m_lock);
    Record("progress " + std::to_string(position));
}

void RecordingView::EnableRun(bool enable) {
    std::lock_guard lock(m_lock);
    m_runEnabled = enable;
    Record(enable ? "run on" : "run off");
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
    std::lock_guard lock(m_lock);
    Record("confirm " + caption + ": " + text);
    return m_confirmAnswer;
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

void RecordingView::OnMessageBox(std::function<void(const MessageBoxRequest&)> hook) {
    std::lock_guard lock(m_lock);
    m_boxHook = std::move(hook);
}

bool RecordingView::WaitFor(const std::string& event, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, timeout, [&] {
        return std::find(m_events.begin(), m_events.end(), event) != m_events.end();
    });
}

}  // namespace tarvik::test
