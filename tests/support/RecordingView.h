#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/DialogView.h"

namespace tarvik::test {

// A DialogView that keeps every call in order, as the operator would have seen it:
//   "status <text>"       the status line changed
//   "progress <n>"        the progress bar moved
//   "run on" / "run off"  the Run button
//   "box <caption>: <text>" / "appbox <caption>: <text>"  a window or application box
//   "confirm <caption>: <text>"  a Yes/No question
// Its "controls" hold what ShowData put there, and tests may type into them.
class RecordingView : public DialogView {
    template <typename F>
    auto Locked(F f) const {
        std::lock_guard lock(m_lock);
        return f();
    }

public:
    void ShowData(const DialogData& data) override;
    void ReadData(DialogData& data) override {
        Locked([&] { data = m_controls; });
    }
    void ShowMessageBox(const MessageBoxRequest& box) override;
    void SetProgress(int position) override;
    void EnableRun(bool enable) override;
    std::optional<std::filesystem::path> AskFirmwareFile() override;
    // Records "confirm <caption>: <text>" and answers as set by AnswerConfirm (Yes at first).
    bool Confirm(const std::string& caption, const std::string& text) override;
    void AnswerConfirm(bool yes) {
        Locked([&] { m_confirmAnswer = yes; });
    }

    std::vector<std::string> Events() const {
        return Locked([&] { return m_events; });
    }
    std::vector<std::string> Boxes() const;  // only the message boxes
    std::vector<MessageBoxRequest> BoxRequests() const {
        return Locked([&] { return m_boxes; });
    }
    DialogData Controls() const {
        return Locked([&] { return m_controls; });
    }
    bool RunEnabled() const {
        return Locked([&] { return m_runEnabled; });
    }

    // What the operator types into the controls before the next ReadData.
    void Type(const std::function<void(DialogData&)>& edit) {
        Locked([&] { edit(m_controls); });
    }
    void QueueFileChoice(std::optional<std::filesystem::path> choice) {
        Locked([&] { m_fileChoices.push_back(std::move(choice)); });
    }
    // Runs after each event is recorded, on the thread that caused it: a test acts at an
    // exact step of a worker.
    void OnEvent(std::function<void(const std::string&)> hook) {
        Locked([&] { m_eventHook = std::move(hook); });
    }

    // Waits until an event equal to `event` has been recorded; false after `timeout`.
    bool WaitFor(const std::string& event,
                 std::chrono::milliseconds timeout = std::chrono::seconds(60)) const;

private:
    // Records `event`, then runs the event hook with the lock released.
    void Record(std::unique_lock<std::mutex>& lock, std::string event);

    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    std::vector<std::string> m_events;
    std::vector<MessageBoxRequest> m_boxes;
    DialogData m_controls;
    bool m_runEnabled = true;
    std::deque<std::optional<std::filesystem::path>> m_fileChoices;
    std::function<void(const std::string&)> m_eventHook;
    bool m_confirmAnswer = true;
};

}  // namespace tarvik::test
