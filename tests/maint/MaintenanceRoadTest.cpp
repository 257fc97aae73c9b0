// Maintenance commands end to end over a pseudo-terminal to the simulated loader, which
// checks the rate and records every frame; and the refusal while an update holds the port.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <thread>

#include "app/UpdaterDlg.h"
#include "serial/PosixSerialPort.h"
#include "sim/SerialLoaderSim.h"
#include "support/RecordingView.h"
#include "support/TempDir.h"

namespace tarvik {
namespace {

using Events = std::vector<std::string>;

class MaintenanceRoadTest : public ::testing::Test {
protected:
    void Start(sim::SerialLoaderOptions options = {}) {
        m_dlg.reset();
        m_clock = std::make_unique<ScaledClock>(20);
        options.clock = m_clock.get();
        m_sim = std::make_unique<sim::SerialLoaderSim>(options);
        m_ports.Override(4, m_sim->DevicePath());
        m_opener = std::make_unique<PosixSerialPortOpener>(*m_clock);
        m_view = std::make_unique<test::RecordingView>();
        m_dlg = std::make_unique<CUpdaterDlg>(*m_view, *m_clock, "tarvik-updater",
                                              UpdaterLinks{m_opener.get(), &m_ports, nullptr});
        m_dlg->OnInitDialog();
        m_view->Type([](DialogData& c) { c.m_nPort = 4; });
    }

    PortNames m_ports{[](const std::string&) { return std::optional<std::string>(); }};
    std::unique_ptr<ScaledClock> m_clock;
    std::unique_ptr<sim::SerialLoaderSim> m_sim;
    std::unique_ptr<PosixSerialPortOpener> m_opener;
    std::unique_ptr<test::RecordingView> m_view;
    std::unique_ptr<CUpdaterDlg> m_dlg;
};

TEST_F(MaintenanceRoadTest, FramesArriveAt9600AndRepliesAreShown) {
    Start();
    m_dlg->OnVersion();
    m_dlg->OnReset();
    m_dlg->OnSetUndiscover();
    m_dlg->OnCmdCr02();
    m_dlg->m_strCradleId = "abcdefghijkl";
    m_dlg->OnSetCradleId();
    m_dlg->m_strRawCmd = "NoN";
    m_dlg->OnCmdRaw();
    const Events expected = {"command %/%/", "command ----",        "command CR01", "command CR02",
                             "cradle lead",  "cradle ABCDEFGHIJKL", "raw lead",     "raw NoN"};
    for (int i = 0; i < 100 && m_sim->MaintenanceFrames().size() < expected.size(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(m_sim->MaintenanceFrames(), expected);
    EXPECT_EQ(m_sim->Errors(), Events{});
    const Events boxes = m_view->Boxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_TRUE(boxes[0].starts_with("box tarvik-updater: ")) << boxes[0];
    EXPECT_EQ(boxes[1], "box tarvik-updater: Set undiscover Successfully");
    EXPECT_EQ(boxes[2], "box tarvik-updater: P0=01,P1=02,P2=0A,P3=FF,P4=00");
}

TEST_F(MaintenanceRoadTest, MissingAndWrongRepliesAreToldOrIgnoredAsTheyAre) {
    sim::SerialLoaderOptions options;
    options.maintenanceReplies["%/%/"] = {};
    options.maintenanceReplies["CR01"] = {0x15};
    Start(options);
    m_dlg->OnVersion();
    m_dlg->OnSetUndiscover();
    EXPECT_EQ(m_view->Boxes(), Events{"box Fail: Timeout fail!"});
    EXPECT_EQ(m_dlg->LastOutcome(), UpdateOutcome::Failed);
    EXPECT_FALSE(m_dlg->Port());
}

TEST_F(MaintenanceRoadTest, ACommandDuringAnUpdateIsRefusedAndTouchesNothing) {
    const std::string refused =
        "box tarvik-updater: A firmware update is running; the command was not sent.";
    for (const bool found : {false, true}) {
        SCOPED_TRACE(found ? "stopped just after the device answered" : "while searching");
        sim::SerialLoaderOptions options;
        options.answerSearch = found;
        Start(options);
        test::TempDir dir;
        dir.Write("fw.bin", std::vector<std::uint8_t>(100, 1));
        m_dlg->m_strFileFolder = dir.Path();
        m_dlg->m_strFileExt = "bin";
        m_view->Type([](DialogData& c) { c.m_strFileTitle = "fw"; });
        // The device's answer: Stop lets the port go, and the update still runs until its
        // receive thread has paused and ended.
        m_view->OnEvent([&](const std::string& event) {
            if (event == "status  Device Found!") {
                m_dlg->OnStop();
                m_dlg->OnReset();
            }
        });
        m_dlg->OnRun();
        if (!found) {
            ASSERT_TRUE(m_sim->WaitForLog("search@115200"));
            const auto searching = m_dlg->Port();
            m_dlg->OnReset();
            m_dlg->m_strRawCmd = "x";
            m_dlg->OnCmdRaw();
            EXPECT_EQ(m_dlg->Port(), searching);  // the update keeps its port
            EXPECT_TRUE(m_dlg->Port()->IsOpen());
            m_dlg->OnStop();
        }
        m_dlg->JoinWorkers();
        EXPECT_EQ(m_view->Boxes(), Events(found ? 1 : 2, refused));
        EXPECT_EQ(m_sim->MaintenanceFrames(), Events{});
        EXPECT_EQ(m_dlg->LastOutcome(), UpdateOutcome::Cancelled);
    }
}

TEST_F(MaintenanceRoadTest, ACommandOnAHeldLineFailsAfterItsStallLimitAndKeepsNoPort) {
    Start();
    // Output held as flow control would hold it: no byte of the command gets through.
    const int held = ::open(m_sim->DevicePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::tcflow(held, TCOOFF), 0);
    ::close(held);
    m_dlg->OnVersion();
    m_dlg->m_strCradleId = "abcdefghijkl";
    m_dlg->OnSetCradleId();
    // One failure for the version query, one for each of the cradle's two openings.
    EXPECT_EQ(m_view->Boxes(), Events(3, "box Fail: The serial port was closed or failed."));
    EXPECT_EQ(m_dlg->LastOutcome(), UpdateOutcome::Failed);
    EXPECT_FALSE(m_dlg->Port());
    EXPECT_EQ(m_sim->MaintenanceFrames(), Events{});
}

}  // namespace
}  // namespace tarvik
