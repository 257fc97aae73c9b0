#pragma once

#include <windows.h>

#include <string>

#include "app/UpdaterDlg.h"
#include "app/win32/PortTooltips.h"

namespace tarvik::win32 {

class Win32DialogView;

// The main window: dialog 102 over CUpdaterDlg, which holds all the logic. `dlg`, `view` and
// `ports` must outlive the window; `instance` is the module that holds the resources. Every
// call is made on the window thread, the thread that called Create.
class UpdaterWindow {
public:
    UpdaterWindow(CUpdaterDlg& dlg, Win32DialogView& view, const PortNames& ports,
                  HINSTANCE instance);
    // A window still open (the program is told to end): the update ends first, its workers'
    // calls served meanwhile as they may wait for the operator; then they are joined.
    ~UpdaterWindow();
    UpdaterWindow(const UpdaterWindow&) = delete;
    UpdaterWindow& operator=(const UpdaterWindow&) = delete;

    // Creates the dialog and attaches the view to it; false when the system cannot.
    bool Create();
    // Runs the thread's messages until the window has closed.
    void RunUntilClosed();
    // The dialog, or none once it has closed.
    HWND Handle() const { return m_hwnd; }

    void AppendToCaption(const std::string& suffix);
    // A fixed tooltip for port entry `index` (the demo's simulators).
    void SetPortNote(int index, std::string note);
    const PortTooltips& Tooltips() const { return m_tooltips; }

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnInitDialog(HWND hwnd);
    void AddAboutToSystemMenu();
    void SetIcons();
    bool OnCommand(int id, int code);
    // Acts on the logic's answer to a close request.
    void Answer(CloseAnswer answer);
    void PollUpdateEnded();
    void CloseNow();
    // Serves the thread's messages for a while; IsDialogMessage keeps the keyboard working.
    void PumpMessages(DWORD waitMs);

    CUpdaterDlg& m_dlg;
    Win32DialogView& m_view;
    HINSTANCE m_instance;
    PortTooltips m_tooltips;
    HWND m_hwnd = nullptr;
    HICON m_bigIcon = nullptr;
    HICON m_smallIcon = nullptr;
    bool m_closing = false;  // told to close, waiting for the update to end
};

}  // namespace tarvik::win32
