// tarvik-flash: the updater on the command line, the same CUpdaterDlg as the window.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>

#include "app/UpdaterDlg.h"
#include "cli/FlashOptions.h"
#include "cli/TerminalView.h"
#include "serial/PosixSerialPort.h"
#include "serial/TracingSerialPort.h"
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

int Flash(const FlashOptions& options, const std::string& appTitle) {
    InterruptWatch::BlockInterrupt();
    const PortChoice choice = *ParsePort(options.port);
    int portIndex = choice.index;
    PortNames ports;
    if (choice.device) {
        ports.Override(portIndex, *choice.device);
    }

    std::optional<sim::SerialLoaderSim> simulator;
    if (options.simulate) {
        sim::SerialLoaderOptions simOptions;
        simOptions.paceAtBaud = options.demo;
        simulator.emplace(simOptions);
        if (portIndex == 0) {
            portIndex = 1;
        }
        ports.Override(portIndex, simulator->DevicePath());
        std::printf("Simulated loader on COM%d (%s): no device is touched.\n", portIndex,
                    simulator->DevicePath().c_str());
    } else if (portIndex == 0) {
        std::fprintf(stderr,
                     "tarvik-flash: the USB link is not available yet; use --port COM1..COM9 "
                     "or a serial device path\n");
        return kExitFailed;
    }

    const std::filesystem::path firmware =
        options.demo ? std::filesystem::path(TARVIK_DEMO_FIRMWARE) : options.firmware;
    std::error_code ec;
    if (!std::filesystem::exists(firmware, ec)) {
        std::fprintf(stderr, "tarvik-flash: %s: No such file\n", firmware.c_str());
        return kExitFailed;
    }

    PosixSerialPortOpener realOpener(RealClock());
    SerialPortOpener* opener = &realOpener;
    std::unique_ptr<WireTrace> trace;
    std::unique_ptr<TracingSerialPortOpener> tracingOpener;
    if (options.trace) {
        trace = std::make_unique<WireTrace>(options.trace->string());
        if (!trace->IsOpen()) {
            std::fprintf(stderr, "tarvik-flash: cannot write the trace %s\n",
                         options.trace->c_str());
            return kExitFailed;
        }
        tracingOpener = std::make_unique<TracingSerialPortOpener>(realOpener, *trace);
        opener = tracingOpener.get();
    }

    TerminalView view(stdout, stderr, isatty(STDOUT_FILENO) != 0);
    CUpdaterDlg dlg(view, RealClock(), appTitle, {opener, &ports});
    dlg.OnInitDialog();
    const FirmwareFile file = FirmwareFileFromPath(firmware);
    {
        std::lock_guard lock(dlg.m_dataLock);
        dlg.m_nPort = portIndex;
        dlg.m_strFileFolder = file.folder;
        dlg.m_strFileTitle = file.title;
        dlg.m_strFileExt = file.ext;
    }
    dlg.UpdateData(false);
    InterruptWatch watch(dlg);
    dlg.OnRun();
    dlg.JoinWorkers();
    view.Finish();
    if (dlg.LastOutcome() == UpdateOutcome::Succeeded) {
        return kExitFinished;
    }
    return watch.Interrupted() ? kExitInterrupted : kExitFailed;
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
