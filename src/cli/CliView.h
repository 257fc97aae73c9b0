#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "app/DialogView.h"

namespace tarvik::cli {

// How a command of tarvik-flash ended, as its views and the summary name it.
enum class FlashResult { Succeeded, Failed, Interrupted };

inline const char* ResultName(FlashResult result) {
    switch (result) {
        case FlashResult::Succeeded:
            return "succeeded";
        case FlashResult::Interrupted:
            return "interrupted";
        case FlashResult::Failed:
            break;
    }
    return "failed";
}

// The box's icon as the JSON events name it: "hand", "exclamation" or "none". Several of
// the loader's failures ("Timeout fail!", "N,A,K") come in boxes without an icon, so the
// icon describes the box; only the result event says whether the run failed.
inline const char* IconName(const MessageBoxRequest& box) {
    switch (box.type & 0xF0u) {
        case kMbIconHand:
            return "hand";
        case kMbIconExclamation:
            return "exclamation";
        default:
            return "none";
    }
}

// A box is a failure when it carries the hand or the exclamation icon.
inline bool IsFailureBox(const MessageBoxRequest& box) {
    return std::string_view(IconName(box)) != "none";
}

// The dialog as the command line shows it (lines, JSON, failures only), plus what the
// command line itself has to say beside the dialog. Nothing is typed in and nothing is
// asked: Ctrl+C is the only answer the command line gives.
class CliView : public DialogView {
public:
    void ReadData(DialogData&) override {}
    void EnableRun(bool) override {}
    std::optional<std::filesystem::path> AskFirmwareFile() override { return std::nullopt; }
    bool Confirm(const std::string&, const std::string&) override { return true; }

    // A line for a person watching ("Simulated serial loader on COM1 ..."), not an event.
    virtual void Note(const std::string& text) = 0;
    // A failure of the command line itself, before the dialog could say anything
    // (a missing firmware file, a trace that cannot be written).
    virtual void Failure(const std::string& text) = 0;
    // A run of the dialog starts on `port`; the demo makes two.
    virtual void BeginRun(const std::string& port) = 0;
    // That run's workers have ended.
    virtual void EndRun() = 0;
    // The command is over: what it came to, its exit status, and how long it took.
    virtual void Finish(FlashResult result, int exitStatus, double seconds) = 0;
};

}  // namespace tarvik::cli
