#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "image/OperatorMessage.h"

namespace tarvik {

// Message-box type bits as the dialog's callers pass them.
inline constexpr unsigned kMbOk = 0x00;
inline constexpr unsigned kMbIconHand = 0x10;
inline constexpr unsigned kMbIconExclamation = 0x30;

// The members bound to controls, in the order of the data exchange.
struct DialogData {
    int m_nPort = -1;            // port list index, -1 for no selection
    std::string m_strFileTitle;  // file edit
    std::string m_strStatus;     // status edit
    std::string m_strCommand;    // command edit, at most 4 characters

    bool operator==(const DialogData&) const = default;
};

// A modal box as the operator sees it: the caption is always resolved.
struct MessageBoxRequest {
    MessageKind kind = MessageKind::Window;
    std::string caption;
    std::string text;
    unsigned type = kMbOk;

    bool operator==(const MessageBoxRequest&) const = default;
};

// The window as the update logic sees it. Any thread may call it; a view that owns real
// widgets marshals each call onto its own thread.
class DialogView {
public:
    virtual ~DialogView() = default;

    // The members into the controls (UpdateData(FALSE)).
    virtual void ShowData(const DialogData& data) = 0;
    // The controls' values into the members (UpdateData(TRUE)).
    virtual void ReadData(DialogData& data) = 0;
    // Returns when the operator has confirmed the box.
    virtual void ShowMessageBox(const MessageBoxRequest& box) = 0;
    // Position 0 to 100.
    virtual void SetProgress(int position) = 0;
    // After each acknowledged block: blocks done of the total and the image bytes they
    // carried. The window's bar shows the position alone; the command line tells rate and
    // time left from this.
    virtual void SetBlockProgress(std::uint32_t /*done*/, std::uint32_t /*total*/,
                                  std::uint64_t /*bytes*/) {}
    virtual void EnableRun(bool enable) = 0;
    // The firmware file the operator picks, or nothing when cancelled.
    virtual std::optional<std::filesystem::path> AskFirmwareFile() = 0;
    // A Yes/No question; true for Yes. Returns when the operator has answered.
    virtual bool Confirm(const std::string& caption, const std::string& text) = 0;
};

}  // namespace tarvik
