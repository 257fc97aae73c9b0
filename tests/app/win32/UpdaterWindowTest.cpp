// The native window under Wine, on a virtual display (wine-on-virtual-display.sh): dialog 102 as
// the dialog manager builds it, and the USB road driven through it as the operator would,
// every box found on screen and answered.
#include <gtest/gtest.h>

#include <windows.h>
// After windows.h, whose types they use.
#include <commctrl.h>
#include <tlhelp32.h>

#include <chrono>
#include <functional>

#include "app/OperatorTexts.h"
#include "app/win32/ResourceIds.h"
#include "app/win32/UpdaterWindow.h"
#include "app/win32/Win32DialogView.h"
#include "hid/WinText.h"
#include "image/FirmwareFiles.h"
#include "image/FirmwareImage.h"
#include "sim/HidLoaderSim.h"
#include "support/TempDir.h"

namespace tarvik::win32 {
namespace {

using Texts = std::vector<std::string>;
using std::chrono::milliseconds;

std::string Text(HWND hwnd, bool className = false) {
    wchar_t text[512];
    const int length = className ? GetClassNameW(hwnd, text, 512) : GetWindowTextW(hwnd, text, 512);
    return win::Utf8({text, static_cast<std::size_t>(length)});
}

long OwnThreads() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    long count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    }
    CloseHandle(snapshot);
    return count;
}

Texts g_boxes;
HWND g_main = nullptr;

// Each box the window thread shows over the main window is recorded as "caption: text",
// marked when the main window does not own it or Run is enabled under it, and answered: Yes
// where it asks, else OK. A thread timer runs inside the boxes' own message loops.
void CALLBACK AnswerBoxes(HWND, UINT, UINT_PTR, DWORD) {
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND box, LPARAM) -> BOOL {
            if (box != g_main && Text(box, true) == "#32770" && IsWindowVisible(box)) {
                g_boxes.push_back(
                    Text(box) + ": " + Text(GetDlgItem(box, 0xFFFF)) +
                    (GetWindow(box, GW_OWNER) == g_main ? "" : " [not owned]") +
                    (IsWindowEnabled(GetDlgItem(g_main, IDC_RUN)) ? " [Run on]" : ""));
                const int answer = GetDlgItem(box, IDYES) ? IDYES : IDOK;
                PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
            }
            return TRUE;
        },
        0);
}

class Win32WindowTest : public ::testing::Test {
protected:
    // The window over a dialog on a fast clock; the simulated USB loader takes `reportTime`
    // for each report.
    bool Open(milliseconds reportTime = milliseconds(8)) {
        m_hidSim = std::make_unique<sim::HidLoaderSim>(
            sim::HidLoaderOptions{.clock = &m_clock, .reportTime = reportTime});
        m_dlg = std::make_unique<CUpdaterDlg>(m_view, m_clock, "tarvik-updater",
                                              UpdaterLinks{nullptr, &m_ports, m_hidSim.get()});
        m_window =
            std::make_unique<UpdaterWindow>(*m_dlg, m_view, m_ports, GetModuleHandleW(nullptr));
        if (!m_window->Create()) {
            return false;
        }
        g_main = m_window->Handle();
        g_boxes.clear();
        m_dlg->OnInitDialog();
        m_timer = SetTimer(nullptr, 0, 20, AnswerBoxes);
        return true;
    }
    void TearDown() override { KillTimer(nullptr, m_timer); }

    HWND Item(int id) { return GetDlgItem(g_main, id); }

    // Serves the window as its program does until `done`, looked at after every message.
    bool PumpUntil(const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + milliseconds(60'000);
        for (MSG msg; !done() && std::chrono::steady_clock::now() < end;) {
            if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            } else if (!g_main || !IsDialogMessageW(g_main, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            g_main = m_window->Handle();
        }
        return done();
    }

    // Chooses an image of `size` bytes and presses Run; the image as flashed, in whole blocks.
    std::vector<std::uint8_t> Run(std::size_t size) {
        std::vector<std::uint8_t> image = test::PatternBytes(size, static_cast<unsigned>(size));
        const FirmwareFile file = FirmwareFileFromPath(m_dir.Write("fw.bin", image));
        {
            std::lock_guard lock(m_dlg->m_dataLock);
            m_dlg->m_strFileFolder = file.folder;
            m_dlg->m_strFileExt = file.ext;
        }
        SetDlgItemTextW(g_main, IDC_FILE_NAME, L"fw");
        SendMessageW(Item(IDC_RUN), BM_CLICK, 0, 0);
        EXPECT_FALSE(IsWindowEnabled(Item(IDC_RUN)));
        image.resize((size + kBlockSize - 1) / kBlockSize * kBlockSize, 0);
        return image;
    }

    test::TempDir m_dir;
    ScaledClock m_clock{4};
    PortNames m_ports{[](const std::string&) { return std::optional<std::string>(); }};
    Win32DialogView m_view;
    std::unique_ptr<sim::HidLoaderSim> m_hidSim;
    std::unique_ptr<CUpdaterDlg> m_dlg;
    std::unique_ptr<UpdaterWindow> m_window;  // goes before the dialog, as in the program
    UINT_PTR m_timer = 0;
};

// The controls in creation order: id, class, the styles the template gives them, and x, y,
// width and height in dialog units. The progress bar draws its own frame and the combo box
// hands WS_VSCROLL and its open height to its list: neither is there to be read back.
using Control = std::tuple<int, std::string, DWORD, RECT>;
constexpr DWORD kOn = WS_VISIBLE, kButton = BS_PUSHBUTTON | WS_TABSTOP;
constexpr DWORD kEdit = ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
// clang-format off
const std::vector<Control> kControls = {
    {IDC_STATIC,       "Static",            SS_LEFT | kOn,                       {20, 17, 16, 12}},
    {IDC_PORT,         "ComboBox",          CBS_DROPDOWNLIST | WS_TABSTOP | kOn, {41, 17, 86, 0}},
    {IDC_STATIC,       "Button",            BS_GROUPBOX | kOn,                   {6, 5, 126, 29}},
    {IDC_FILE_NAME,    "Edit",              kEdit | kOn,                         {16, 59, 73, 15}},
    {IDC_STATIC,       "Static",            SS_LEFT | kOn,                       {18, 47, 106, 8}},
    {IDC_BROWSE,       "Button",            kButton | kOn,                       {94, 59, 34, 15}},
    {IDC_PROGRESS,     "msctls_progress32", kOn,                                {142, 52, 128, 14}},
    {IDC_COMMAND,      "Button",            kButton,                             {2, 62, 6, 6}},
    {IDC_STATIC,       "Button",            BS_GROUPBOX | kOn,                   {8, 37, 125, 44}},
    {IDC_STATUS,       "Edit",              kEdit | kOn,                         {143, 25, 94, 18}},
    {IDC_RUN,          "Button",            kButton | kOn,                       {242, 26, 28, 18}},
    {IDC_STOP,         "Button",            kButton | WS_DISABLED,               {240, 14, 26, 8}},
    {IDC_STATIC,       "Button",            BS_GROUPBOX | kOn,                   {137, 6, 138, 75}},
    {IDC_COMMAND_TEXT, "Edit",              kEdit,                               {2, 61, 6, 12}},
    {IDC_STATIC,       "Button",            BS_GROUPBOX,                         {2, 54, 8, 9}},
    {IDC_RESET,        "Button",            kButton,                             {2, 62, 6, 6}},
    {IDC_VERSION,      "Button",            kButton,                             {2, 57, 6, 6}},
    {IDC_CRADLE_ID,    "Button",            kButton,                             {2, 67, 6, 6}},
};
// clang-format on

TEST_F(Win32WindowTest, TemplateBuildsTheControlsTheSystemMenuAndTheAboutBox) {
    ASSERT_TRUE(Open());
    std::size_t n = 0;
    for (HWND child = GetWindow(g_main, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        ASSERT_LT(n, kControls.size());
        auto [id, kind, style, units] = kControls[n++];
        MapDialogRect(g_main, &units);  // each value on its own, as the dialog manager does
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, g_main, reinterpret_cast<POINT*>(&r), 2);
        const bool edge = GetWindowLongW(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE;
        const DWORD styles = (GetWindowLongW(child, GWL_STYLE) | (edge ? WS_BORDER : 0)) &
                             (0xFFFF | WS_VISIBLE | WS_DISABLED | WS_TABSTOP | WS_BORDER);
        const LONG height = GetDlgCtrlID(child) == IDC_PORT ? 0 : r.bottom - r.top;
        EXPECT_EQ(std::tuple(GetDlgCtrlID(child), Text(child, true), styles, r.left, r.top,
                             r.right - r.left, height),
                  std::tuple(id, kind, style, units.left, units.top, units.right, units.bottom));
    }
    EXPECT_EQ(n, kControls.size());
    EXPECT_EQ(std::tuple(Text(g_main), SendMessageW(Item(IDC_COMMAND_TEXT), EM_GETLIMITTEXT, 0, 0),
                         SendMessageW(Item(IDC_PORT), CB_GETCOUNT, 0, 0),
                         SendMessageW(Item(IDC_PORT), CB_GETCURSEL, 0, 0)),
              std::tuple("Olmen V1.00  05-08-2014", 4, 10, 0));

    // The system menu ends with a separator and the About entry, which opens the About box.
    const HMENU menu = GetSystemMenu(g_main, FALSE);
    const int last = GetMenuItemCount(menu) - 1;
    wchar_t about[64] = {};
    GetMenuStringW(menu, last, about, 64, MF_BYPOSITION);
    EXPECT_EQ(
        std::tuple(GetMenuState(menu, last - 1, MF_BYPOSITION) & MF_SEPARATOR, win::Utf8(about)),
        std::tuple(UINT{MF_SEPARATOR}, "&About Tarvik Firmware Utility"));
    SendMessageW(g_main, WM_SYSCOMMAND, GetMenuItemID(menu, last), 0);  // returns once answered
    EXPECT_EQ(g_boxes, Texts{"About Pelton upgrade tool:  [Run on]"});
}

TEST_F(Win32WindowTest, UsbRunFlashesTheFileAndEndsWithItsBoxAFullBarAndRunEnabled) {
    ASSERT_TRUE(Open());
    const auto image = Run(2 * kBlockSize + 904);
    ASSERT_TRUE(PumpUntil([&] { return !g_boxes.empty() && IsWindowEnabled(Item(IDC_RUN)); }));
    EXPECT_EQ(g_boxes, Texts{"Update: Download Finished!"});
    EXPECT_EQ(Text(Item(IDC_STATUS)), "Download Finished!");
    EXPECT_EQ(SendMessageW(Item(IDC_PROGRESS), PBM_GETPOS, 0, 0), 100);
    EXPECT_EQ(m_hidSim->Flashed(), image);
    EXPECT_EQ(m_hidSim->Errors(), Texts{});
}

TEST_F(Win32WindowTest, ClosingDuringADownloadAsksThenWaitsForItsEndAndItsThreads) {
    ASSERT_TRUE(Open(milliseconds(400)));  // a block under way outlasts Wine's hiding of the window
    const long threads = OwnThreads();
    Run(64 * kBlockSize);
    ASSERT_TRUE(PumpUntil([&] { return !m_hidSim->Log().empty(); }));  // the start report
    PostMessageW(g_main, WM_CLOSE, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return !g_main; }));
    EXPECT_EQ(OwnThreads(), threads);  // joined before the window went
    EXPECT_EQ(g_boxes, Texts{std::string("tarvik-updater: ") + kConfirmStopDownload});
    EXPECT_EQ(m_dlg->LastOutcome(), UpdateOutcome::Cancelled);
    EXPECT_LT(m_hidSim->Pages().size(), 64u);
    EXPECT_EQ(m_hidSim->OpenHandles(), 0);
}

}  // namespace
}  // namespace tarvik::win32
