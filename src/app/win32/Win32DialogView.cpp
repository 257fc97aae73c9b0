#include "app/win32/Win32DialogView.h"

#include <commctrl.h>
#include <commdlg.h>

#include <string>

#include "app/win32/ResourceIds.h"
#include "app/win32/WideText.h"
#include "hid/WinText.h"

namespace tarvik::win32 {
namespace {

// Long paths are allowed: the file dialog's buffer is the longest a path may be.
constexpr DWORD kPathBuffer = 32768;
constexpr WPARAM kCommandMaxChars = 4;

std::string ItemText(HWND dialog, int id) {
    const HWND item = GetDlgItem(dialog, id);
    const int length = GetWindowTextLengthW(item);
    if (length <= 0) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(item, text.data(), length + 1)));
    return win::Utf8(text);
}

void SetItemText(HWND dialog, int id, const std::string& text) {
    SetDlgItemTextW(dialog, id, WideText(text).c_str());
}

}  // namespace

void Win32DialogView::Attach(HWND dialog) {
    std::lock_guard lock(m_lock);
    m_dialog = dialog;
    m_windowThread = GetCurrentThreadId();
    if (!dialog) {
        m_posted.clear();
    }
}

bool Win32DialogView::OnWindowMessage(UINT message, LPARAM lParam) {
    switch (message) {
        case kMsgRunPosted:
            RunPosted();
            return true;
        case kMsgRunSent: {
            // What the sender queued before it waited comes first: the status set before a
            // box shows with the box, not after it.
            RunPosted();
            HWND dialog = nullptr;
            {
                std::lock_guard lock(m_lock);
                dialog = m_dialog;
            }
            if (dialog) {
                (*reinterpret_cast<const Act*>(lParam))(dialog);
            }
            return true;
        }
        default:
            return false;
    }
}

void Win32DialogView::RunPosted() {
    for (;;) {
        Act act;
        HWND dialog = nullptr;
        {
            std::lock_guard lock(m_lock);
            if (m_posted.empty() || !m_dialog) {
                return;
            }
            act = std::move(m_posted.front());
            m_posted.pop_front();
            dialog = m_dialog;
        }
        act(dialog);
    }
}

void Win32DialogView::OnWindowThread(Act act, bool wait) {
    HWND dialog = nullptr;
    bool onWindowThread = false;
    {
        std::lock_guard lock(m_lock);
        dialog = m_dialog;
        onWindowThread = GetCurrentThreadId() == m_windowThread;
        if (!dialog) {
            return;
        }
        if (!onWindowThread && !wait) {
            m_posted.push_back(std::move(act));
        }
    }
    if (onWindowThread) {
        act(dialog);
    } else if (wait) {
        // Returns once the window thread has run it, or at once when the window is gone.
        SendMessageW(dialog, kMsgRunSent, 0, reinterpret_cast<LPARAM>(&act));
    } else {
        PostMessageW(dialog, kMsgRunPosted, 0, 0);
    }
}

void Win32DialogView::ShowData(const DialogData& data) {
    OnWindowThread(
        [data](HWND dialog) {
            SendDlgItemMessageW(dialog, IDC_PORT, CB_SETCURSEL, static_cast<WPARAM>(data.m_nPort),
                                0);
            SetItemText(dialog, IDC_FILE_NAME, data.m_strFileTitle);
            SetItemText(dialog, IDC_STATUS, data.m_strStatus);
            SetItemText(dialog, IDC_COMMAND_TEXT, data.m_strCommand);
            // As the data exchange has always done: the command edit takes four characters.
            SendDlgItemMessageW(dialog, IDC_COMMAND_TEXT, EM_LIMITTEXT, kCommandMaxChars, 0);
        },
        false);
}

void Win32DialogView::ReadData(DialogData& data) {
    OnWindowThread(
        [&data](HWND dialog) {
            const LRESULT index = SendDlgItemMessageW(dialog, IDC_PORT, CB_GETCURSEL, 0, 0);
            data.m_nPort = index == CB_ERR ? -1 : static_cast<int>(index);
            data.m_strFileTitle = ItemText(dialog, IDC_FILE_NAME);
            data.m_strStatus = ItemText(dialog, IDC_STATUS);
            data.m_strCommand = ItemText(dialog, IDC_COMMAND_TEXT);
        },
        true);
}

void Win32DialogView::ShowMessageBox(const MessageBoxRequest& request) {
    OnWindowThread(
        [&request](HWND dialog) {
            // The application's box belongs to whatever the application shows on top.
            const HWND owner =
                request.kind == MessageKind::Application ? GetLastActivePopup(dialog) : dialog;
            MessageBoxW(owner, WideText(request.text).c_str(), WideText(request.caption).c_str(),
                        MB_OK | request.type);
        },
        true);
}

void Win32DialogView::SetProgress(int position) {
    OnWindowThread(
        [position](HWND dialog) {
            SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
        },
        false);
}

void Win32DialogView::EnableRun(bool enable) {
    OnWindowThread(
        [enable](HWND dialog) {
            const HWND run = GetDlgItem(dialog, IDC_RUN);
            if (!enable && GetFocus() == run) {
                // A disabled button cannot keep the keyboard: the next control takes it.
                SendMessageW(dialog, WM_NEXTDLGCTL, 0, FALSE);
            }
            EnableWindow(run, enable);
        },
        false);
}

std::optional<std::filesystem::path> Win32DialogView::AskFirmwareFile() {
    std::optional<std::filesystem::path> chosen;
    OnWindowThread(
        [this, &chosen](HWND dialog) {
            std::wstring file(kPathBuffer, L'\0');
            const std::wstring folder = m_lastFolder.wstring();
            OPENFILENAMEW ofn{};
            ofn.lStructSize = sizeof ofn;
            ofn.hwndOwner = dialog;
            ofn.lpstrFilter =
                L"Firmware file(*.bin)\0*.bin\0ELF executable (*.out)\0*.out\0All files (*)\0*.*\0";
            ofn.nFilterIndex = 1;
            ofn.lpstrFile = file.data();
            ofn.nMaxFile = kPathBuffer;
            ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
            ofn.lpstrDefExt = L"bin";
            // The current directory stays ours: every file of a Run is found in the chosen
            // file's folder.
            ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR |
                        OFN_EXPLORER | OFN_ENABLESIZING;
            if (GetOpenFileNameW(&ofn)) {
                file.resize(file.find(L'\0'));
                chosen = std::filesystem::path(file);
                m_lastFolder = chosen->parent_path();
            }
        },
        true);
    return chosen;
}

bool Win32DialogView::Confirm(const std::string& caption, const std::string& text) {
    bool yes = false;
    OnWindowThread(
        [&yes, &caption, &text](HWND dialog) {
            yes = MessageBoxW(dialog, WideText(text).c_str(), WideText(caption).c_str(),
                              MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
        },
        true);
    return yes;
}

}  // namespace tarvik::win32
