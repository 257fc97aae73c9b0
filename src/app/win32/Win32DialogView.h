#pragma once

#include <windows.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>

#include "app/DialogView.h"

namespace tarvik::win32 {

// The window's private messages: the view's calls carried from a worker to the window thread.
inline constexpr UINT kMsgRunPosted = WM_APP + 1;  // run the queued calls
inline constexpr UINT kMsgRunSent = WM_APP + 2;    // run the call at lParam, the sender waits

// The window as the logic sees it. Calls on the window thread act at once. A worker's call
// is carried to the window thread: posted, with copies of its data, when nothing comes back;
// sent, with the worker waiting, for a box, a question, the file dialog and reading the
// controls. The window thread itself never waits for a worker.
class Win32DialogView final : public DialogView {
public:
    // Window thread only. Without a dialog every call does nothing: ReadData leaves the
    // members, boxes return at once, questions are answered No, no file is chosen. Detaching
    // drops the calls still queued.
    void Attach(HWND dialog);

    // The dialog procedure hands over its private messages here; true when it was one.
    bool OnWindowMessage(UINT message, LPARAM lParam);

    void ShowData(const DialogData& data) override;
    void ReadData(DialogData& data) override;
    void ShowMessageBox(const MessageBoxRequest& box) override;
    void SetProgress(int position) override;
    void EnableRun(bool enable) override;
    std::optional<std::filesystem::path> AskFirmwareFile() override;
    bool Confirm(const std::string& caption, const std::string& text) override;

private:
    using Act = std::function<void(HWND dialog)>;

    // Runs `act` on the window thread: at once when called there; from a worker queued (then
    // `act` holds copies of what it needs), or waited for when `wait`.
    void OnWindowThread(Act act, bool wait);
    // The queued calls, in the order they were made.
    void RunPosted();

    std::mutex m_lock;
    HWND m_dialog = nullptr;  // under m_lock
    DWORD m_windowThread = 0;
    std::deque<Act> m_posted;  // under m_lock
    // The folder of the last file chosen, where "Search..." opens next; window thread only.
    std::filesystem::path m_lastFolder;
};

}  // namespace tarvik::win32
