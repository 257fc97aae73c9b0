#pragma once

#include <gtest/gtest.h>

#include <algorithm>

#include "app/UpdaterDlg.h"
#include "sim/HidLoaderSim.h"
#include "support/RecordingView.h"
#include "support/RefusingDlg.h"
#include "support/SimulatedSerialLoader.h"
#include "support/TempDir.h"
#include "support/Timeline.h"

namespace tarvik::test {

using Bytes = std::vector<std::uint8_t>;
using Events = std::vector<std::string>;

inline const std::string kFinished = "box Update: Download Finished!";

// What a case's boxes come to, the empty ones left out.
inline Events Shown(std::initializer_list<std::string> boxes) {
    Events shown;
    std::ranges::copy_if(boxes, std::back_inserter(shown),
                         [](const std::string& box) { return !box.empty(); });
    return shown;
}

inline Bytes Padded(Bytes image) {
    image.resize((image.size() + kBlockSize - 1) / kBlockSize * kBlockSize, 0);
    return image;
}

// Both roads' devices: a serial loader behind a pseudo-terminal on COM3 and a HID bus, and
// a dialog whose clock and serial ports note every pause and port operation on a time line.
class RoadTest : public ::testing::Test {
protected:
    // The dialog set to COM3, on a clock `speed` times real time. Anything from an earlier
    // Start goes first, dialog before devices.
    void Start(sim::SerialLoaderOptions serial = {}, double speed = 4,
               Clock::Duration writeStallLimit = kWriteStallLimit, sim::HidLoaderOptions hid = {}) {
        m_dlg.reset();
        m_sim.reset();
        m_view = std::make_unique<RecordingView>();
        m_ports = PortNames([](const std::string&) { return std::optional<std::string>(); });
        m_clock = std::make_unique<ScaledClock>(speed);
        serial.clock = m_clock.get();
        m_sim = std::make_unique<SimulatedSerialLoader>(serial, writeStallLimit);
        m_bus = std::make_unique<sim::HidLoaderSim>(std::move(hid));
        m_ports.Override(3, m_sim->DevicePath());
        m_opener = &m_sim->Opener();
        m_timeline = std::make_unique<TimelineClock>(*m_clock);
        m_timelineOpener = std::make_unique<TimelinePortOpener>(*m_opener, *m_timeline);
        m_dlg = std::make_unique<RefusingDlg>(
            *m_view, *m_timeline, "tarvik-updater",
            UpdaterLinks{m_timelineOpener.get(), &m_ports, m_bus.get()});
        m_dlg->OnInitDialog();
        m_view->Type([](DialogData& c) { c.m_nPort = 3; });
    }
    // The dialog set to "USB Port". The default speed is fast enough for the 2.5 s closing
    // pause, slow enough that the 500 acknowledgement polls leave the reader thread plenty
    // of real time on a loaded machine.
    void StartHid(sim::HidLoaderOptions hid = {}, double speed = 2) {
        Start({}, speed, kWriteStallLimit, std::move(hid));
        m_view->Type([](DialogData& c) { c.m_nPort = 0; });
    }

    // The operator chooses `file`, as the file dialog would leave it.
    void Choose(const std::filesystem::path& file) {
        const FirmwareFile chosen = FirmwareFileFromPath(file);
        m_dlg->m_strFileFolder = chosen.folder;
        m_dlg->m_strFileExt = chosen.ext;
        m_view->Type([&](DialogData& c) { c.m_strFileTitle = chosen.title; });
    }
    Bytes ChooseImage(std::size_t size) {
        Bytes image = PatternBytes(size, static_cast<unsigned>(size));
        Choose(m_dir.Write("fw.bin", image));
        return image;
    }

    void RunToEnd() {
        m_dlg->OnRun();
        m_dlg->JoinWorkers();
    }

    Events SimLogWithoutSearch() const {
        Events log = m_sim->Log();
        std::erase(log, "search@115200");
        return log;
    }

    // What every way out leaves behind: Run enabled, no port, no HID handle, no reader, and
    // the serial port free for anyone.
    void ExpectAllLetGo() {
        EXPECT_TRUE(m_view->RunEnabled());
        EXPECT_FALSE(m_dlg->Port());
        EXPECT_EQ(m_bus->OpenHandles(), 0);
        EXPECT_EQ(m_dlg->m_bHidReading, 0);
        EXPECT_FALSE(m_dlg->m_hHidRead);
        EXPECT_FALSE(m_dlg->m_hHidWrite);
        const auto reopened = m_opener->Open(m_sim->DevicePath(), 115200);
        EXPECT_TRUE(reopened.port) << reopened.error.reason;
    }

    TempDir m_dir;
    std::unique_ptr<RecordingView> m_view;
    PortNames m_ports{[](const std::string&) { return std::optional<std::string>(); }};
    std::unique_ptr<ScaledClock> m_clock;
    std::unique_ptr<SimulatedSerialLoader> m_sim;
    std::unique_ptr<sim::HidLoaderSim> m_bus;
    SerialPortOpener* m_opener = nullptr;       // m_sim's
    std::unique_ptr<TimelineClock> m_timeline;  // the dialog's clock and serial ports
    std::unique_ptr<TimelinePortOpener> m_timelineOpener;
    std::unique_ptr<RefusingDlg> m_dlg;
};

}  // namespace tarvik::test
