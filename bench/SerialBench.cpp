// Figures for the serial road: a 256 KiB download against the simulated loader paced at the
// real wire time of 115200 baud 8N1, against the protocol's wire-time minimum; and the
// command line's start time and peak memory. Prints figures; never fails on them.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <vector>

#include "TimingView.h"
#include "app/UpdaterDlg.h"
#include "serial/PosixSerialPort.h"
#include "sim/SerialLoaderSim.h"

namespace tarvik {
namespace {

using SteadyTime = std::chrono::steady_clock::time_point;

double Ms(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void DownloadFigures(const std::filesystem::path& folder) {
    constexpr std::size_t kImage = 256 * 1024;
    std::vector<std::uint8_t> image(kImage);
    std::mt19937 random(3);
    std::generate(image.begin(), image.end(), [&] { return static_cast<std::uint8_t>(random()); });
    std::ofstream(folder / "fw.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), kImage);

    sim::SerialLoaderOptions options;
    options.paceAtBaud = true;
    sim::SerialLoaderSim loader(options);
    PortNames ports([](const std::string&) { return std::optional<std::string>(); });
    ports.Override(1, loader.DevicePath());
    PosixSerialPortOpener opener(RealClock());
    TimingView view;
    CUpdaterDlg dlg(view, RealClock(), "bench", {&opener, &ports});
    dlg.OnInitDialog();
    dlg.m_nPort = 1;
    dlg.m_strFileFolder = folder;
    dlg.m_strFileTitle = "fw";
    dlg.m_strFileExt = "bin";
    const auto start = std::chrono::steady_clock::now();
    dlg.OnRun();
    dlg.JoinWorkers();
    const auto end = std::chrono::steady_clock::now();

    const double byteMs = 10.0 * 1000.0 / 115200.0;
    const std::size_t blocks = kImage / kBlockSize;
    // UCLRU and its acknowledgement, then per block the flash command, the frame and two
    // acknowledgements, then the reboot command.
    const double blockPhaseMin = static_cast<double>(blocks * (5 + 3 + 2051 + 3)) * byteMs;
    const double clearMin = 8 * byteMs;
    constexpr double kPurgePauses = 200.0;
    const double blockPhase = Ms(view.m_done - view.m_progressing) - kPurgePauses - clearMin;
    std::printf("serial download of 256 KiB at 115200 baud: %s, total %.0f ms\n",
                view.m_lastBox.c_str(), Ms(end - start));
    std::printf(
        "  block phase %.0f ms against a wire-time minimum of %.0f ms: ratio %.4f "
        "(target <= 1.02)\n",
        blockPhase, blockPhaseMin, blockPhase / blockPhaseMin);
    std::printf("  loader errors: %zu\n", loader.Errors().size());
}

// Runs the command line and returns its wall time and peak resident memory.
std::pair<double, long> RunFlash(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        return {-1, -1};
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    return {Ms(std::chrono::steady_clock::now() - start), usage.ru_maxrss};
}

void CommandLineFigures(const std::filesystem::path& folder) {
    std::vector<double> starts;
    for (int i = 0; i < 30; ++i) {
        starts.push_back(RunFlash({TARVIK_FLASH, "--version"}).first);
    }
    std::sort(starts.begin(), starts.end());
    std::printf(
        "tarvik-flash start to exit (--version): median %.2f ms over %zu runs "
        "(target < 20 ms)\n",
        starts[starts.size() / 2], starts.size());
    const auto [ms, peakKiB] =
        RunFlash({TARVIK_FLASH, "--simulate", "--port", "COM1", (folder / "fw.bin").string()});
    std::printf(
        "tarvik-flash --simulate --port COM1 of 256 KiB: %.0f ms, peak memory %.1f MiB "
        "(target < 16 MiB)\n",
        ms, peakKiB / 1024.0);
}

}  // namespace
}  // namespace tarvik

int main() {
    const auto folder = std::filesystem::temp_directory_path() / "tarvik-serial-bench";
    std::filesystem::create_directories(folder);
    tarvik::DownloadFigures(folder);
    tarvik::CommandLineFigures(folder);
    std::filesystem::remove_all(folder);
    return 0;
}
