#include "app/win32/UpdaterWindow.h"

#include <commctrl.h>

#include "app/win32/AboutBox.h"
#include "app/win32/ResourceIds.h"
#include "app/win32/WideText.h"
#include "app/win32/Win32DialogView.h"

namespace tarvik::win32 {
namespace {

constexpr UINT_PTR kClosePollTimer = 1;
constexpr UINT kClosePollMs = 20;
constexpr int kSerialPorts = 9;

HICON LoadAppIcon(HINSTANCE instance, int size) {
    return static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON, size, size, 0));
}

}  // namespace

UpdaterWindow::UpdaterWindow(CUpdaterDlg& dlg, Win32DialogView& view, const PortNames& ports,
                             HINSTANCE instance)
    : m_dlg(dlg), m_view(view), m_instance(instance), m_tooltips(ports) {}

UpdaterWindow::~UpdaterWindow() {
    if (m_hwnd) {
        KillTimer(m_hwnd, kClosePollTimer);
        if (m_dlg.UpdateRunning()) {
            m_dlg.CancelUpdate();
            while (m_dlg.UpdateRunning()) {
                PumpMessages(kClosePollMs);
            }
        }
        m_dlg.JoinWorkers();  // their last act was enabling Run: they have ended
        CloseNow();
    }
    for (const HICON icon : {m_bigIcon, m_smallIcon}) {
        if (icon) {
            DestroyIcon(icon);
        }
    }
}

bool UpdaterWindow::Create() {
    const INITCOMMONCONTROLSEX controls{
        sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    return CreateDialogParamW(m_instance, MAKEINTRESOURCEW(IDD_UPDATER_DIALOG), nullptr,
                              &UpdaterWindow::DialogProc,
                              reinterpret_cast<LPARAM>(this)) != nullptr;
}

void UpdaterWindow::RunUntilClosed() {
    MSG msg;
    while (m_hwnd && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(m_hwnd, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

void UpdaterWindow::PumpMessages(DWORD waitMs) {
    MSG msg;
    while (m_hwnd && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (!IsDialogMessageW(m_hwnd, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, waitMs, QS_ALLINPUT);
}

void UpdaterWindow::AppendToCaption(const std::string& suffix) {
    const int length = GetWindowTextLengthW(m_hwnd);
    std::wstring caption(static_cast<std::size_t>(length) + 1, L'\0');
    caption.resize(static_cast<std::size_t>(GetWindowTextW(m_hwnd, caption.data(), length + 1)));
    SetWindowTextW(m_hwnd, (caption + WideText(suffix)).c_str());
}

void UpdaterWindow::SetPortNote(int index, std::string note) {
    m_tooltips.SetNote(index, std::move(note));
}

INT_PTR CALLBACK UpdaterWindow::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* window = reinterpret_cast<UpdaterWindow*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        window->OnInitDialog(hwnd);
        return TRUE;  // the focus goes to the first control with a tab stop, the port list
    }
    auto* window = reinterpret_cast<UpdaterWindow*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!window) {
        return FALSE;  // messages before WM_INITDIALOG
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        window->m_hwnd = nullptr;
        return FALSE;
    }
    return window->OnMessage(message, wParam, lParam);
}

INT_PTR UpdaterWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_view.OnWindowMessage(message, lParam)) {
        return TRUE;
    }
    switch (message) {
        case WM_COMMAND:
            return OnCommand(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
        case WM_CLOSE:
            // The close box, Alt+F4, the system menu's Close.
            if (!m_closing) {
                Answer(m_dlg.OnClose());
            }
            return TRUE;
        case WM_SYSCOMMAND:
            // The system keeps the low four bits of the command for itself.
            if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
                ShowAboutBox(m_instance, m_hwnd);
                return TRUE;
            }
            return FALSE;
        case WM_NOTIFY:
            return m_tooltips.OnNotify(*reinterpret_cast<NMHDR*>(lParam)) ? TRUE : FALSE;
        case WM_TIMER:
            if (wParam == kClosePollTimer) {
                PollUpdateEnded();
                return TRUE;
            }
            return FALSE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(m_bigIcon);
        case WM_DESTROY:
            KillTimer(m_hwnd, kClosePollTimer);
            m_view.Attach(nullptr);
            return FALSE;
        default:
            return FALSE;
    }
}

void UpdaterWindow::OnInitDialog(HWND hwnd) {
    m_hwnd = hwnd;
    const HWND ports = GetDlgItem(hwnd, IDC_PORT);
    SendMessageW(ports, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"USB Port"));
    for (int n = 1; n <= kSerialPorts; ++n) {
        const std::wstring name = L"COM" + std::to_wstring(n);
        SendMessageW(ports, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    }
    AddAboutToSystemMenu();
    SetIcons();
    m_tooltips.Create(hwnd, ports);
    m_view.Attach(hwnd);
}

void UpdaterWindow::AddAboutToSystemMenu() {
    const HMENU menu = GetSystemMenu(m_hwnd, FALSE);
    const wchar_t* text = nullptr;
    // A length of 0 asks for the resource's own read-only text, which holds no terminator.
    const int length = LoadStringW(m_instance, IDS_ABOUTBOX, reinterpret_cast<LPWSTR>(&text), 0);
    if (!menu || length <= 0) {
        return;
    }
    const std::wstring about(text, static_cast<std::size_t>(length));
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about.c_str());
}

void UpdaterWindow::SetIcons() {
    // The sizes of the monitor the window is on, from the icon's several images.
    const UINT dpi = GetDpiForWindow(m_hwnd);
    m_bigIcon = LoadAppIcon(m_instance, GetSystemMetricsForDpi(SM_CXICON, dpi));
    m_smallIcon = LoadAppIcon(m_instance, GetSystemMetricsForDpi(SM_CXSMICON, dpi));
    SendMessageW(m_hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_bigIcon));
    SendMessageW(m_hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon));
}

bool UpdaterWindow::OnCommand(int id, int code) {
    if (id == IDOK || id == IDCANCEL) {
        // Esc, and Enter while the focus is not on a push button.
        if (!m_closing) {
            Answer(m_dlg.OnCancelOrOk());
        }
        return true;
    }
    if (id == IDC_PORT) {
        if (code == CBN_DROPDOWN) {
            m_tooltips.Refresh();
        }
        return true;
    }
    return code == BN_CLICKED && m_dlg.OnCommand(id);
}

void UpdaterWindow::Answer(CloseAnswer answer) {
    switch (answer) {
        case CloseAnswer::Close:
            CloseNow();
            return;
        case CloseAnswer::Stay:
            return;
        case CloseAnswer::CloseWhenDone:
            // Never join here: the workers may be waiting for this thread to show a box.
            m_closing = true;
            SetTimer(m_hwnd, kClosePollTimer, kClosePollMs, nullptr);
            return;
    }
}

void UpdaterWindow::PollUpdateEnded() {
    if (m_dlg.UpdateRunning()) {
        return;
    }
    KillTimer(m_hwnd, kClosePollTimer);
    m_dlg.JoinWorkers();  // their last act was enabling Run: they have ended
    CloseNow();
}

void UpdaterWindow::CloseNow() {
    m_view.Attach(nullptr);
    DestroyWindow(m_hwnd);
}

}  // namespace tarvik::win32
