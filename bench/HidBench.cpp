// Figures for the USB road: a 256 KiB download against the simulated loader, whose endpoint
// takes 1 ms a report as a full-speed interrupt endpoint does. Prints the host's own time per
// block beyond the 42 ms its reports take. Prints figures; never fails on them.
#include <cstdio>
#include <fstream>
#include <mutex>
#include <random>

#include "app/UpdaterDlg.h"
#include "sim/HidLoaderSim.h"

namespace tarvik {
namespace {

using SteadyTime = std::chrono::steady_clock::time_point;

// Keeps the moments the figures are taken between.
class TimingView : public DialogView {
public:
    void ShowData(const DialogData& data) override {
        std::lock_guard lock(m_lock);
        if (data.m_strStatus == "Progressing..." && m_progressing == SteadyTime{}) {
            m_progressing = std::chrono::steady_clock::now();
        }
    }
    void ReadData(DialogData&) override {}
    void ShowMessageBox(const MessageBoxRequest& box) override {
        std::lock_guard lock(m_lock);
        m_lastBox = box.text;
    }
    void SetProgress(int position) override {
        std::lock_guard lock(m_lock);
        if (position == 100) {
            m_done = std::chrono::steady_clock::now();
        }
    }
    void EnableRun(bool) override {}
    std::optional<std::filesystem::path> AskFirmwareFile() override { return std::nullopt; }

    std::mutex m_lock;
    SteadyTime m_progressing{};
    SteadyTime m_done{};
    std::string m_lastBox;
};

}  // namespace
}  // namespace tarvik

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
