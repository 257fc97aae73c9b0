#pragma once

#include <atomic>
#include <functional>

#include "app/DialogView.h"

class QFileDialog;
class QMessageBox;

namespace tarvik::qt {

class UpdaterWindow;

// The window as the logic sees it. Calls on the GUI thread act at once; calls from a worker
// are queued onto the GUI thread, and those that wait for the operator block the worker
// until the operator has answered. The GUI thread itself never waits for a worker.
class QtDialogView final : public DialogView {
public:
    using BoxHook = std::function<void(QMessageBox&)>;
    using FileDialogHook = std::function<void(QFileDialog&)>;

    // GUI thread only. Without a window every call does nothing: ReadData leaves the
    // members, boxes return at once, questions are answered No, no file is chosen.
    void Attach(UpdaterWindow* window);

    // Run on the GUI thread just before a box or the file dialog opens, so that a test can
    // answer it.
    void SetBoxHook(BoxHook hook) { m_boxHook = std::move(hook); }
    void SetFileDialogHook(FileDialogHook hook) { m_fileDialogHook = std::move(hook); }

    void ShowData(const DialogData& data) override;
    void ReadData(DialogData& data) override;
    void ShowMessageBox(const MessageBoxRequest& box) override;
    void SetProgress(int position) override;
    void EnableRun(bool enable) override;
    std::optional<std::filesystem::path> AskFirmwareFile() override;
    bool Confirm(const std::string& caption, const std::string& text) override;

private:
    // Runs `act` with the window on the GUI thread: at once when called there; from a worker
    // queued (then `act` must hold copies of what it needs), or waited for when `wait`.
    void OnGuiThread(std::function<void(UpdaterWindow&)> act, bool wait);

    std::atomic<UpdaterWindow*> m_window{nullptr};
    BoxHook m_boxHook;
    FileDialogHook m_fileDialogHook;
};

}  // namespace tarvik::qt
