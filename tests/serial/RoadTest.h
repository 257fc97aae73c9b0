#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include "app/UpdaterDlg.h"
#include "clock/Clock.h"
#include "sim/HidLoaderSim.h"
#include "sim/SerialLoaderSim.h"
#include "support/RecordingView.h"
#include "support/TempDir.h"
#include "support/Timeline.h"
// Windows has no pseudo-terminal; Linux builds the serial road's tests a second time with
// TARVIK_IN_PROCESS_LOADER, so that the loader inside the process meets the same table.
#if defined(_WIN32) || defined(TARVIK_IN_PROCESS_LOADER)
#define TARVIK_SERIAL_LOADER_IN_PROCESS 1
#include "sim/InProcessSerialLoader.h"
#else
#include "serial/PosixSerialPort.h"
#endif

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

// The simulated serial loader a road test talks to, and the opener that reaches it: the loader
// behind a pseudo-terminal and the system's own ports, so that the tests run the real termios
// code; or the loader inside the process and its ports, which keep the same contract.
// Time-outs on the options' clock.
#ifdef TARVIK_SERIAL_LOADER_IN_PROCESS
class SimulatedSerialLoader : public sim::InProcessSerialLoader {
public:
    SimulatedSerialLoader(sim::SerialLoaderOptions options, Clock::Duration writeStallLimit)
        : sim::InProcessSerialLoader(std::move(options), writeStallLimit) {}
    SerialPortOpener& Opener() { return *this; }
};
#else
class SimulatedSerialLoader : public sim::SerialLoaderSim {
public:
    SimulatedSerialLoader(const sim::SerialLoaderOptions& options, Clock::Duration writeStallLimit)
        : sim::SerialLoaderSim(options), m_opener(*options.clock, writeStallLimit) {}
    SerialPortOpener& Opener() { return m_opener; }

private:
    PosixSerialPortOpener m_opener;
};
#endif

// A dialog whose workers can be refused, as a system out of threads would refuse them.
class RefusingDlg : public CUpdaterDlg {
public:
    using CUpdaterDlg::CUpdaterDlg;
    int refuseStart = -1;  // which start to refuse, counting from 0; -1 refuses none

protected:
    bool StartWorker(std::thread& slot, void (CUpdaterDlg::*proc)()) override {
        return m_started++ == refuseStart ? false : CUpdaterDlg::StartWorker(slot, proc);
    }

private:
    std::atomic<int> m_started{0};
};

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

    // Waits for the workers; any still busy after `limit` are stopped, and the test fails.
    void Join(std::chrono::seconds limit = std::chrono::seconds(60)) {
        auto joined = std::async(std::launch::async, [this] { m_dlg->JoinWorkers(); });
        if (joined.wait_for(limit) != std::future_status::ready) {
            ADD_FAILURE() << "a worker did not end: a blocked read or write did not wake";
            m_dlg->CancelUpdate();  // either wakes it, so that the test ends
            m_dlg->OnStop();
        }
        joined.get();
    }
    void RunToEnd() {
        m_dlg->OnRun();
        Join();
    }

    Events SimLogWithoutSearch() const {
        Events log = m_sim->Log();
        std::erase(log, "search@115200");
        return log;
    }

    // What every way out leaves behind: idle, Run enabled, no port, no HID handle, no reader,
    // and the serial port free for anyone.
    void ExpectAllLetGo() {
        EXPECT_FALSE(m_dlg->UpdateRunning());
        EXPECT_EQ(m_dlg->m_bIdle, 1);
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
