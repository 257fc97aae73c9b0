// tarvik-flash: the updater on the command line, the same CUpdaterDlg as the window.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "app/UpdaterDlg.h"
#include "cli/FlashOptions.h"
#include "cli/TerminalView.h"
#include "hid/HidapiTransport.h"
#include "hid/TracingHidTransport.h"
#include "serial/PosixSerialPort.h"
#include "serial/TracingSerialPort.h"
#include "sim/HidLoaderSim.h"
#include "sim/SerialLoaderSim.h"
#include "trace/WireTrace.h"

namespace tarvik::cli {
namespace {

constexpr int kExitFinished = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

// Ctrl+C without a signal handler: SIGINT is blocked in every thread and taken here with
// sigtimedwait, then turned into a cancel of the running update.
class InterruptWatch {
public:
    // Call before any other thread starts, so that all of them inherit the blocked signal.
    static void BlockInterrupt() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
    }

    explicit InterruptWatch(CUpdaterDlg& dlg)
        : m_thread([this, &dlg] {
              sigset_t set;
              sigemptyset(&set);
              sigaddset(&set, SIGINT);
              const timespec slice{0, 50'000'000};
              while (!m_done) {
                  if (sigtimedwait(&set, nullptr, &slice) == SIGINT) {
                      m_interrupted = true;
                      dlg.CancelUpdate();
                  }
              }
          }) {}
    ~InterruptWatch() {
        m_done = true;
        m_thread.join();
    }

    bool Interrupted() const { return m_interrupted; }

private:
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_interrupted{false};
    std::thread m_thread;
};

// Everything one run talks to: real links, or the simulated loaders behind them.
struct Links {
    PortNames ports;
    std::unique_ptr<sim::SerialLoaderSim> serialSim;
    std::unique_ptr<sim::HidLoaderSim> hidSim;
    std::unique_ptr<HidapiTransport> hidapi;
    std::unique_ptr<PosixSerialPortOpener> serial;
    std::unique_ptr<WireTrace> trace;
    std::unique_ptr<TracingSerialPortOpener> tracingSerial;
    std::unique_ptr<TracingHidTransport> tracingHid;

    UpdaterLinks Get() {
        HidTransport* hid = hidSim ? static_cast<HidTransport*>(hidSim.get()) : hidapi.get();
        if (tracingHid) {
            hid = tracingHid.get();
        }
        SerialPortOpener* opener =
            tracingSerial ? static_cast<SerialPortOpener*>(tracingSerial.get()) : serial.get();
        return {opener, &ports, hid};
    }
};

// Sets the text a maintenance command sends, and runs it; its exit status.
int Maintain(CUpdaterDlg& dlg, const FlashOptions& options) {
    using Handler = void (CUpdaterDlg::*)();
    const std::map<std::string, Handler> handlers = {
        {"reset", &CUpdaterDlg::OnReset},         {"version", &CUpdaterDlg::OnVersion},
        {"query", &CUpdaterDlg::OnCmdQuery},      {"set-undiscover", &CUpdaterDlg::OnSetUndiscover},
        {"cr02", &CUpdaterDlg::OnCmdCr02},        {"ke99", &CUpdaterDlg::OnCmdKe99},
        {"ke01", &CUpdaterDlg::OnCmdKe01},        {"ke97", &CUpdaterDlg::OnCmdKe97},
        {"dash02", &CUpdaterDlg::OnCmdDash02},    {"text", &CUpdaterDlg::OnCmdText},
        {"command", &CUpdaterDlg::OnSendCommand}, {"cradle-id", &CUpdaterDlg::OnSetCradleId},
        {"raw", &CUpdaterDlg::OnCmdRaw},
    };
    // Each text goes to the member its command sends; the rest stay as the window leaves them.
    const std::map<std::string, std::string UpdaterState::*> texts = {
        {"text", &UpdaterState::m_strCmd4},
        {"command", &UpdaterState::m_strCommand},
        {"cradle-id", &UpdaterState::m_strCradleId},
        {"raw", &UpdaterState::m_strRawCmd},
    };
    if (const auto member = texts.find(*options.command); member != texts.end()) {
        std::lock_guard lock(dlg.m_dataLock);
        dlg.*member->second = options.commandText;
    }
    dlg.UpdateData(false);
    (dlg.*handlers.at(*options.command))();
    return dlg.LastOutcome() == UpdateOutcome::Succeeded ? kExitFinished : kExitFailed;
}

int Flash(const FlashOptions& options, const std::string& appTitle) {
    InterruptWatch::BlockInterrupt();
    const PortChoice choice = *ParsePort(options.port);
    const int serialIndex = choice.index == 0 ? 1 : choice.index;
    // The demo shows the serial road, then the USB road.
    const std::vector<int> runs =
        options.demo ? std::vector<int>{serialIndex, 0} : std::vector<int>{choice.index};

    Links links;
    if (choice.device) {
        links.ports.Override(choice.index, *choice.device);
    }
    if (options.simulate) {
        for (const int index : runs) {
            if (index != 0) {
                sim::SerialLoaderOptions simOptions;
                simOptions.paceAtBaud = options.demo;
                links.serialSim = std::make_unique<sim::SerialLoaderSim>(simOptions);
                links.ports.Override(index, links.serialSim->DevicePath());
                std::printf("Simulated serial loader on COM%d (%s): no device is touched.\n", index,
                            links.serialSim->DevicePath().c_str());
            } else {
                sim::HidLoaderOptions simOptions;
                if (options.demo) {
                    simOptions.reportTime = std::chrono::milliseconds(1);
                }
                links.hidSim = std::make_unique<sim::HidLoaderSim>(simOptions);
                std::printf("Simulated USB loader: no device is touched.\n");
            }
        }
    } else if (choice.index == 0) {
        links.hidapi = std::make_unique<HidapiTransport>();
    }

    const std::filesystem::path firmware =
        options.demo ? std::filesystem::path(TARVIK_DEMO_FIRMWARE) : options.firmware;
    std::error_code ec;
    if (!options.command && !std::filesystem::exists(firmware, ec)) {
        std::fprintf(stderr, "tarvik-flash: %s: No such file\n", firmware.c_str());
        return kExitFailed;
    }

    links.serial = std::make_unique<PosixSerialPortOpener>(RealClock());
    if (options.trace) {
        links.trace = std::make_unique<WireTrace>(options.trace->string());
        if (!links.trace->IsOpen()) {
            std::fprintf(stderr, "tarvik-flash: cannot write the trace %s\n",
                         options.trace->c_str());
            return kExitFailed;
        }
        links.tracingSerial =
            std::make_unique<TracingSerialPortOpener>(*links.serial, *links.trace);
        if (HidTransport* hid = links.Get().hid) {
            links.tracingHid = std::make_unique<TracingHidTransport>(*hid, *links.trace);
        }
    }

    TerminalView view(stdout, stderr, isatty(STDOUT_FILENO) != 0);
    CUpdaterDlg dlg(view, RealClock(), appTitle, links.Get());
    dlg.OnInitDialog();
    if (options.command) {
        {
            std::lock_guard lock(dlg.m_dataLock);
            dlg.m_nPort = choice.index;
        }
        return Maintain(dlg, options);
    }
    const FirmwareFile file = FirmwareFileFromPath(firmware);
    InterruptWatch watch(dlg);
    for (const int index : runs) {
        {
            std::lock_guard lock(dlg.m_dataLock);
            dlg.m_nPort = index;
            dlg.m_strFileFolder = file.folder;
            dlg.m_strFileTitle = file.title;
            dlg.m_strFileExt = file.ext;
        }
        dlg.UpdateData(false);
        if (options.demo) {
            std::printf("--- %s\n",
                        index == 0 ? "USB Port" : ("COM" + std::to_string(index)).c_str());
        }
        dlg.OnRun();
        dlg.JoinWorkers();
        view.Finish();
        if (dlg.LastOutcome() != UpdateOutcome::Succeeded) {
            return watch.Interrupted() ? kExitInterrupted : kExitFailed;
        }
    }
    return kExitFinished;
}

}  // namespace
}  // namespace tarvik::cli

int main(int argc, char** argv) {
    using namespace tarvik::cli;
    std::string error;
    const auto options = ParseFlashOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "tarvik-flash: %s\nTry 'tarvik-flash --help'.\n", error.c_str());
        return kExitUsage;
    }
    switch (options->action) {
        case FlashOptions::Action::Help:
            std::fputs(kFlashUsage, stdout);
            return 0;
        case FlashOptions::Action::Version:
            std::puts("tarvik-flash 2.0.0.0");
            return 0;
        case FlashOptions::Action::Flash:
            break;
    }
    return Flash(*options, tarvik::ApplicationTitle(argv[0]));
}
