// Figures for the USB road: a 256 KiB download against the simulated loader, whose endpoint
// takes 1 ms a report as a full-speed interrupt endpoint does. Prints the host's own time per
// block beyond the 42 ms its reports take. Prints figures; never fails on them.
#include <cstdio>
#include <fstream>
#include <random>

#include "TimingView.h"
#include "app/UpdaterDlg.h"
#include "sim/HidLoaderSim.h"

int main() {
    using namespace tarvik;
    const auto folder = std::filesystem::temp_directory_path() / "tarvik-hid-bench";
    std::filesystem::create_directories(folder);
    constexpr std::size_t kImage = 256 * 1024;
    std::vector<char> image(kImage);
    std::mt19937 random(5);
    for (auto& b : image) {
        b = static_cast<char>(random());
    }
    std::ofstream(folder / "fw.bin", std::ios::binary).write(image.data(), kImage);

    sim::HidLoaderOptions options;
    options.reportTime = std::chrono::milliseconds(1);
    sim::HidLoaderSim bus(options);
    TimingView view;
    CUpdaterDlg dlg(view, RealClock(), "bench", {nullptr, nullptr, &bus});
    dlg.OnInitDialog();
    dlg.m_nPort = 0;
    dlg.m_strFileFolder = folder;
    dlg.m_strFileTitle = "fw";
    dlg.m_strFileExt = "bin";
    dlg.OnRun();
    dlg.JoinWorkers();

    constexpr double kClosingPauseMs = 2500;
    constexpr double kReportsPerBlock = 42;
    const std::size_t blocks = kImage / kBlockSize;
    const double phaseMs =
        std::chrono::duration<double, std::milli>(view.m_done - view.m_progressing).count() -
        kClosingPauseMs - 1;  // the start report's own millisecond
    const double perBlock = phaseMs / static_cast<double>(blocks);
    std::printf("USB download of 256 KiB, 1 ms a report: %s; %zu blocks in %.0f ms\n",
                view.m_lastBox.c_str(), blocks, phaseMs);
    std::printf(
        "  %.2f ms a block: host time beyond the 42 ms of reports %.2f ms "
        "(target < 2 ms); loader errors: %zu\n",
        perBlock, perBlock - kReportsPerBlock, bus.Errors().size());
    std::filesystem::remove_all(folder);
    return 0;
}
