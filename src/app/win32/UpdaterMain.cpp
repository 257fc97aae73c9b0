// tarvik-updater.exe: the updater's native Windows window, the same CUpdaterDlg as the
// command line and the Linux window.
#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "app/DemoFirmware.h"
#include "app/ProgramPath.h"
#include "app/UpdaterDlg.h"
#include "app/win32/UpdaterWindow.h"
#include "app/win32/WideText.h"
#include "app/win32/Win32DialogView.h"
#include "hid/SystemHidTransport.h"
#include "hid/WinText.h"
#include "serial/SystemSerialPort.h"
#include "sim/HidLoaderSim.h"
#include "sim/InProcessSerialLoader.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitNoWindow = 1;
constexpr int kDemoSerialPort = 1;

// The arguments after the program's own name, as the wide command line has them.
std::vector<std::wstring> Arguments() {
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!words) {
        return {};
    }
    std::vector<std::wstring> arguments(words + (count > 0 ? 1 : 0), words + count);
    LocalFree(words);
    return arguments;
}

// A window program started from a console has no standard error unless it was redirected:
// then the text goes there, else into a box.
void Tell(const std::string& appTitle, const std::string& text) {
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD written = 0;
    if (error && error != INVALID_HANDLE_VALUE &&
        WriteFile(error, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        return;
    }
    MessageBoxW(nullptr, tarvik::win32::WideText(text).c_str(),
                tarvik::win32::WideText(appTitle).c_str(), MB_OK | MB_ICONHAND);
}

}  // namespace

int main() {
    using namespace tarvik;
    std::string appTitle = win::Utf8(ProgramPath().stem().wstring());
    if (appTitle.empty()) {
        appTitle = "tarvik-updater";
    }
    const std::vector<std::wstring> arguments = Arguments();
    const bool demo = arguments == std::vector<std::wstring>{L"--demo"};
    if (!arguments.empty() && !demo) {
        Tell(appTitle, "usage: " + appTitle + " [--demo]\n");
        return kExitUsage;
    }

    // The links outlive the dialog, which outlives the window. The demo's serial loader runs
    // inside the process: Windows has no pseudo-terminals.
    PortNames ports;
    const auto systemSerial = MakeSystemSerialPortOpener(RealClock());
    SerialPortOpener* serial = systemSerial.get();
    std::unique_ptr<sim::InProcessSerialLoader> serialSim;
    std::unique_ptr<sim::HidLoaderSim> hidSim;
    std::unique_ptr<HidTransport> systemHid;
    HidTransport* hid = nullptr;
    if (demo) {
        sim::SerialLoaderOptions serialOptions;
        serialOptions.paceAtBaud = true;
        serialSim = std::make_unique<sim::InProcessSerialLoader>(serialOptions);
        ports.Override(kDemoSerialPort, serialSim->DevicePath());
        serial = serialSim.get();
        sim::HidLoaderOptions hidOptions;
        hidOptions.reportTime = std::chrono::milliseconds(1);
        hidSim = std::make_unique<sim::HidLoaderSim>(hidOptions);
        hid = hidSim.get();
    } else {
        systemHid = MakeSystemHidTransport();  // here, before any other thread
        hid = systemHid.get();
    }

    win32::Win32DialogView view;
    CUpdaterDlg dlg(view, RealClock(), appTitle, {serial, &ports, hid});
    win32::UpdaterWindow window(dlg, view, ports, GetModuleHandleW(nullptr));
    if (!window.Create()) {
        Tell(appTitle, appTitle + ": the window cannot be created (error " +
                           std::to_string(GetLastError()) + ")\n");
        return kExitNoWindow;
    }
    dlg.OnInitDialog();
    if (demo) {
        window.AppendToCaption(" — demo: simulated devices");
        window.SetPortNote(0, "USB Port: simulated loader in boot mode");
        window.SetPortNote(kDemoSerialPort, "COM" + std::to_string(kDemoSerialPort) +
                                                ": simulated loader on " +
                                                win::Utf8(serialSim->DevicePath().wstring()));
        ChooseDemoFirmware(dlg);
    }
    window.RunUntilClosed();
    return 0;
}
