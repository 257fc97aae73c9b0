#pragma once

#include <chrono>
#include <mutex>
#include <string>

#include "app/DialogView.h"

namespace tarvik {

using SteadyTime = std::chrono::steady_clock::time_point;

// Keeps the moments a benchmark's figures are taken between: the download's start
// ("Progressing...") and its progress reaching 100, and the last message.
class TimingView : public DialogView {
public:
    void ShowData(const DialogData& data) override {
        std::lock_guard lock(m_lock);
        if (data.m_strStatus == "Progressing..." && m_progressing == SteadyTime{}) {
            m_progressing = std::chrono::steady_clock::now();
        }
    }
    void ReadData(DialogData&) override {}
    void ShowMessageBox(const MessageBoxRequest& box) override {
        std::lock_guard lock(m_lock);
        m_lastBox = box.text;
    }
    void SetProgress(int position) override {
        std::lock_guard lock(m_lock);
        if (position == 100) {
            m_done = std::chrono::steady_clock::now();
        }
    }
    void EnableRun(bool) override {}
    std::optional<std::filesystem::path> AskFirmwareFile() override { return std::nullopt; }
    bool Confirm(const std::string&, const std::string&) override { return true; }

    std::mutex m_lock;
    SteadyTime m_progressing{};
    SteadyTime m_done{};
    std::string m_lastBox;
};

}  // namespace tarvik
