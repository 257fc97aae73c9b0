// tarvik-flash: the updater on the command line, the same CUpdaterDlg as the window.
#include <chrono>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "app/DemoFirmware.h"
#include "app/UpdaterDlg.h"
#include "cli/Console.h"
#include "cli/FlashOptions.h"
#include "cli/InterruptWatch.h"
#include "cli/JsonView.h"
#include "cli/ParallelFlash.h"
#include "cli/QuietView.h"
#include "cli/SimulatedSerialLoader.h"
#include "cli/TerminalView.h"
#include "cli/Utf8Path.h"
#include "hid/SystemHidTransport.h"
#include "hid/TracingHidTransport.h"
#include "ports/PortListing.h"
#include "serial/SystemSerialPort.h"
#include "serial/TracingSerialPort.h"
#include "sim/HidLoaderSim.h"
#include "trace/WireTrace.h"

namespace tarvik::cli {
namespace {

constexpr int kExitFinished = 0;
constexpr int kExitFailed = 1;

// Everything one run talks to: real links, or the simulated loaders behind them.
struct Links {
    PortNames ports;
    std::unique_ptr<SerialPortOpener> systemSerial = MakeSystemSerialPortOpener(RealClock());
    std::unique_ptr<SimulatedSerialLoader> serialSim;
    std::unique_ptr<sim::HidLoaderSim> hidSim;
    std::unique_ptr<HidTransport> systemHid;
    std::unique_ptr<WireTrace> trace;
    std::unique_ptr<TracingSerialPortOpener> tracingSerial;
    std::unique_ptr<TracingHidTransport> tracingHid;

    // The serial ports as the dialog reaches them, before any trace.
    SerialPortOpener& Serial() {
        return serialSim ? serialSim->Opener(*systemSerial) : *systemSerial;
    }

    UpdaterLinks Get() {
        HidTransport* hid = hidSim ? static_cast<HidTransport*>(hidSim.get()) : systemHid.get();
        if (tracingHid) {
            hid = tracingHid.get();
        }
        SerialPortOpener* opener =
            tracingSerial ? static_cast<SerialPortOpener*>(tracingSerial.get()) : &Serial();
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

std::unique_ptr<CliView> MakeView(const FlashOptions& options) {
    if (options.json) {
        return std::make_unique<JsonView>(stdout, options.ports.front());
    }
    if (options.quiet) {
        return std::make_unique<QuietView>(stderr);
    }
    return std::make_unique<TerminalView>(stdout, stderr, OutputRedraws());
}

// The port a run of the dialog goes to, as the events name it.
std::string RunPortName(const FlashOptions& options, int index) {
    if (index == 0) {
        return "usb";
    }
    const std::string& given = options.ports.front();
    return ParsePort(given)->index == 0 ? "COM" + std::to_string(index) : given;
}

int FlashOnePort(const FlashOptions& options, const std::string& appTitle, CliView& view) {
    BlockInterrupt();
    const PortChoice choice = *ParsePort(options.ports.front());
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
            if (index == 0) {
                sim::HidLoaderOptions simOptions;
                if (options.demo) {
                    simOptions.reportTime = std::chrono::milliseconds(1);
                }
                links.hidSim = std::make_unique<sim::HidLoaderSim>(simOptions);
                view.Note("Simulated USB loader: no device is touched.");
            } else if (!choice.device) {
                // A device path is opened as given: it may be a simulator's pty started
                // elsewhere.
                sim::SerialLoaderOptions simOptions;
                simOptions.paceAtBaud = options.demo;
                links.serialSim = MakeSimulatedSerialLoader(simOptions);
                links.ports.Override(index, links.serialSim->DevicePath());
                view.Note("Simulated serial loader on COM" + std::to_string(index) + " (" +
                          Utf8(links.serialSim->DevicePath()) + "): no device is touched.");
            }
        }
    } else if (choice.index == 0) {
        links.systemHid = MakeSystemHidTransport();
    }

    const std::filesystem::path firmware = options.demo ? DemoFirmware() : options.firmware;
    std::error_code ec;
    if (!options.command && !std::filesystem::exists(firmware, ec)) {
        view.Failure(Utf8(firmware) + ": No such file");
        return kExitFailed;
    }
    if (options.demo) {
        view.Note("Demo firmware: " + Utf8(firmware));
    }

    if (options.trace) {
        links.trace = std::make_unique<WireTrace>(options.trace->string());
        if (!links.trace->IsOpen()) {
            view.Failure("cannot write the trace " + Utf8(*options.trace));
            return kExitFailed;
        }
        links.tracingSerial =
            std::make_unique<TracingSerialPortOpener>(links.Serial(), *links.trace);
        if (HidTransport* hid = links.Get().hid) {
            links.tracingHid = std::make_unique<TracingHidTransport>(*hid, *links.trace);
        }
    }

    CUpdaterDlg dlg(view, RealClock(), appTitle, links.Get());
    dlg.OnInitDialog();
    InterruptWatch watch(dlg);
    if (options.command) {
        {
            std::lock_guard lock(dlg.m_dataLock);
            dlg.m_nPort = choice.index;
        }
        const int status = Maintain(dlg, options);
        return watch.Interrupted() ? kExitInterrupted : status;
    }
    const FirmwareFile file = FirmwareFileFromPath(firmware);
    for (const int index : runs) {
        if (watch.Interrupted()) {
            return kExitInterrupted;
        }
        {
            std::lock_guard lock(dlg.m_dataLock);
            dlg.m_nPort = index;
            dlg.m_strFileFolder = file.folder;
            dlg.m_strFileTitle = file.title;
            dlg.m_strFileExt = file.ext;
        }
        dlg.UpdateData(false);
        view.BeginRun(RunPortName(options, index));
        if (options.demo) {
            view.Note(std::string("--- ") +
                      (index == 0 ? "USB Port" : ("COM" + std::to_string(index)).c_str()));
        }
        dlg.OnRun();
        dlg.JoinWorkers();
        view.EndRun();
        if (dlg.LastOutcome() != UpdateOutcome::Succeeded) {
            return watch.Interrupted() ? kExitInterrupted : kExitFailed;
        }
    }
    return kExitFinished;
}

// One port: the dialog behind the view the options ask for, and the result at the end.
int Flash(const FlashOptions& options, const std::string& appTitle) {
    const auto start = std::chrono::steady_clock::now();
    const std::unique_ptr<CliView> view = MakeView(options);
    const int exitStatus = FlashOnePort(options, appTitle, *view);
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    view->Finish(exitStatus == kExitFinished      ? FlashResult::Succeeded
                 : exitStatus == kExitInterrupted ? FlashResult::Interrupted
                                                  : FlashResult::Failed,
                 exitStatus, seconds.count());
    return exitStatus;
}

}  // namespace
}  // namespace tarvik::cli

int main(int argc, char** argv) {
    using namespace tarvik::cli;
    PrepareConsole();
    std::vector<std::string> args = ProgramArguments(argc, argv);
    if (args.empty()) {
        args.push_back("tarvik-flash");
    }
    std::string error;
    const auto options =
        ParseFlashOptions(std::vector<std::string>(args.begin() + 1, args.end()), error);
    if (!options) {
        std::fputs(UsageErrorText(error).c_str(), stderr);
        return kExitUsage;
    }
    switch (options->action) {
        case FlashOptions::Action::Help:
            std::fputs(kFlashUsage, stdout);
            return 0;
        case FlashOptions::Action::Version:
            std::puts("tarvik-flash 2.0.0.0");
            return 0;
        case FlashOptions::Action::List:
            // Listing a port never opens it.
            std::fputs(
                tarvik::ports::FormatPortListing(tarvik::ports::ListPorts({}, tarvik::PortNames()))
                    .c_str(),
                stdout);
            return 0;
        case FlashOptions::Action::Flash:
            break;
    }
    try {
        if (options->ports.size() > 1) {
            return FlashInParallel(*options, args.front());
        }
        return Flash(*options, tarvik::ApplicationTitle(PathFromUtf8(args.front())));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarvik-flash: unexpected error: %s\n", e.what());
        return kExitFailed;
    }
}
