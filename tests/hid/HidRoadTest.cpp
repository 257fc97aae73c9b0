// The USB road end to end: Run finds the boot-mode device on a simulated HID bus and sends
// it the image, report by report; the simulated loader checks every byte. Every way out must
// leave no thread, no open handle and Run enabled.
#include <gtest/gtest.h>

#include "app/UpdaterDlg.h"
#include "sim/HidLoaderSim.h"
#include "support/BadImages.h"
#include "support/RecordingView.h"
#include "support/RefusingDlg.h"
#include "support/TempDir.h"
#include "support/Timeline.h"

namespace tarvik {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Events = std::vector<std::string>;
using sim::HidFault;
using sim::HidFaultKind;
using sim::SimHidDevice;

constexpr HidAttributes kLoader = {0xFFFF, 0x0012, 0x0100};

class HidRoadTest : public ::testing::Test {
protected:
    // A bus and a dialog on "USB Port". The clock runs `speed` times real time: fast enough
    // for the 2.5 s closing pause, slow enough that the 500 acknowledgement polls leave
    // the reader thread plenty of real time on a loaded machine.
    void Start(sim::HidLoaderOptions options = {}, double speed = 2) {
        m_dlg.reset();
        m_view = std::make_unique<test::RecordingView>();
        m_clock = std::make_unique<ScaledClock>(speed);
        m_bus = std::make_unique<sim::HidLoaderSim>(std::move(options));
        m_timeline = std::make_unique<test::TimelineClock>(*m_clock);
        m_dlg = std::make_unique<test::RefusingDlg>(*m_view, *m_timeline, "tarvik-updater",
                                                    UpdaterLinks{nullptr, nullptr, m_bus.get()});
        m_dlg->OnInitDialog();
    }

    Bytes ChooseImage(std::size_t size) {
        Bytes image = test::PatternBytes(size, static_cast<unsigned>(size) + 7);
        m_dir.Write("fw.bin", image);
        m_dlg->m_strFileFolder = m_dir.Path();
        m_dlg->m_strFileExt = "bin";
        m_view->Type([](DialogData& c) { c.m_strFileTitle = "fw"; });
        return image;
    }

    void RunToEnd() {
        m_dlg->OnRun();
        m_dlg->JoinWorkers();
    }

    // What every way out leaves behind.
    void ExpectAllLetGo() {
        EXPECT_TRUE(m_view->RunEnabled());
        EXPECT_EQ(m_bus->OpenHandles(), 0);
        EXPECT_EQ(m_dlg->m_bHidReading, 0);
        EXPECT_FALSE(m_dlg->m_hHidRead);
        EXPECT_FALSE(m_dlg->m_hHidWrite);
    }

    static Bytes Padded(Bytes image) {
        image.resize((image.size() + kBlockSize - 1) / kBlockSize * kBlockSize, 0);
        return image;
    }

    test::TempDir m_dir;
    std::unique_ptr<test::RecordingView> m_view;
    std::unique_ptr<ScaledClock> m_clock;
    std::unique_ptr<sim::HidLoaderSim> m_bus;
    std::unique_ptr<test::TimelineClock> m_timeline;  // the dialog's clock
    std::unique_ptr<test::RefusingDlg> m_dlg;
};

sim::HidLoaderOptions WithFault(HidFault fault) {
    sim::HidLoaderOptions options;
    options.faults.push_back(fault);
    return options;
}

TEST_F(HidRoadTest, ThreeBlocksWithStartReportPagesProgressAndTheFinalBox) {
    Start();
    const Bytes image = ChooseImage(5000);
    RunToEnd();
    EXPECT_EQ(m_bus->Errors(), Events{});
    EXPECT_EQ(m_bus->Log(), (Events{"start", "block 0x0008", "block 0x0010", "block 0x0000"}));
    EXPECT_EQ(m_bus->Flashed(), Padded(image));
    EXPECT_EQ(m_view->Events(),
              (Events{"run off", "progress 0", "status Progressing...", "progress 33",
                      "progress 66", "progress 100", "box Update: Download Finished!",
                      "status Download Finished!", "run on"}));
    EXPECT_EQ(m_dlg->LastOutcome(), UpdateOutcome::Succeeded);
    ExpectAllLetGo();
}

TEST_F(HidRoadTest, TheWorkerPollsForEachAcknowledgementAndPausesBeforeTheFinalBox) {
    Start();
    ChooseImage(100);
    m_view->OnEvent([this](const std::string& event) { m_timeline->Note(event); });
    RunToEnd();
    Events lane = m_timeline->LaneWith("status Progressing...");
    // Acknowledgement polls of 1 ms, then 2.5 s before the last progress and the box.
    ASSERT_GE(lane.size(), 7u);
    EXPECT_EQ(Events(lane.end() - 6, lane.end()),
              (Events{"sleep 1", "sleep 2500", "progress 100", "box Update: Download Finished!",
                      "status Download Finished!", "run on"}));
    std::erase(lane, "sleep 1");
    EXPECT_EQ(lane,
              (Events{"progress 0", "status Progressing...", "sleep 2500", "progress 100",
                      "box Update: Download Finished!", "status Download Finished!", "run on"}));
}

TEST_F(HidRoadTest, ImagesOfOneTwoAndOneHundredTwentyEightBlocksArriveWhole) {
    for (const std::size_t size : {std::size_t{1}, std::size_t{2049}, std::size_t{256 * 1024}}) {
        SCOPED_TRACE(size);
        Start();
        const Bytes image = ChooseImage(size);
        RunToEnd();
        EXPECT_EQ(m_bus->Errors(), Events{});
        EXPECT_EQ(m_bus->Flashed(), Padded(image));
        EXPECT_EQ(m_bus->Pages().back(), 0);
        EXPECT_EQ(m_view->Boxes(), Events{"box Update: Download Finished!"});
        ExpectAllLetGo();
    }
}

TEST_F(HidRoadTest, AnImageThatCannotBeSentOpensNoDevice) {
    for (const auto& bad : test::BadImages()) {
        SCOPED_TRACE(bad.what);
        Start();
        test::TempDir dir;
        bad.make(dir);
        m_dlg->m_strFileFolder = dir.Path();
        m_dlg->m_strFileExt = "bin";
        m_view->Type([](DialogData& c) { c.m_strFileTitle = "fw"; });
        RunToEnd();
        const Events boxes = m_view->Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_NE(boxes[0].find(bad.told), std::string::npos) << boxes[0];
        EXPECT_EQ(m_bus->OpenCalls(), Events{});
        EXPECT_EQ(m_bus->Log(), Events{});
        ExpectAllLetGo();
    }
}

TEST_F(HidRoadTest, AWorkerThatThrowsStopsItsReaderAndClosesTheDevice) {
    Start();
    ChooseImage(5000);
    m_view->OnEvent([](const std::string& event) {
        if (event == "progress 33") {
            throw std::runtime_error("view gone");
        }
    });
    RunToEnd();
    EXPECT_EQ(m_view->Boxes(), Events{"box Fail: Unexpected error: view gone"});
    EXPECT_EQ(m_bus->Log(), (Events{"start", "block 0x0008"}));
    EXPECT_EQ(m_dlg->LastOutcome(), UpdateOutcome::Failed);
    ExpectAllLetGo();
}

TEST_F(HidRoadTest, EachFaultEndsWithItsMessagesAndLetsEverythingGo) {
    struct Case {
        const char* what;
        HidFault fault;
        Events boxes;
    };
    const std::vector<Case> cases = {
        {"no acknowledgement for block 1",
         {HidFaultKind::NoAck, 0},
         {"box tarvik-updater: NO ACK ,Block no:0X08"}},
        {"no acknowledgement for block 0",
         {HidFaultKind::NoAck, 2},
         {"box tarvik-updater: NO Ack1!"}},
        {"U5U one byte too early",
         {HidFaultKind::AckAtWrongOffset, 1, 5, 1},
         {"box tarvik-updater: NO ACK ,Block no:0X10"}},
        {"a one-byte input report",
         {HidFaultKind::ShortReport, 0},
         {"appbox tarvik-updater: Only read 2 bytes", "box tarvik-updater: NO ACK ,Block no:0X08"}},
        {"the start report fails",
         {HidFaultKind::WriteFails, 0, 5},
         {"appbox tarvik-updater: Send error= 5"}},
        {"a header report fails",
         {HidFaultKind::WriteFails, 43, 5},
         {"appbox tarvik-updater: Send error= 5"}},
        {"the first data report fails",
         {HidFaultKind::WriteFails, 2, 5},
         {"appbox tarvik-updater: Send error= 5 len=1998",
          "appbox tarvik-updater: Couldn't send data  !"}},
        {"the device is unplugged at the last data report",
         {HidFaultKind::DeviceGone, 42},
         {"appbox tarvik-updater: Send error= 19 len=0",
          "appbox tarvik-updater: Couldn't send data  !"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Start(WithFault(c.fault), 20);
        ChooseImage(5000);
        RunToEnd();
        EXPECT_EQ(m_view->Boxes(), c.boxes);
        EXPECT_EQ(m_view->Controls().m_strStatus, "Progressing...");
        EXPECT_EQ(m_dlg->LastOutcome(), UpdateOutcome::Failed);
        ExpectAllLetGo();
    }
}

TEST_F(HidRoadTest, DiscoveryTakesTheFirstBootModeDeviceThatOpensTwice) {
    const SimHidDevice other{"hid:keyboard", {0x046D, 0xC31C, 0x0110}, false, false, false};
    const SimHidDevice wrongVersion{
        "hid:old-loader", {0xFFFF, 0x0012, 0x0101}, false, false, false};
    const SimHidDevice once{"hid:one-handle", kLoader, false, true, false};
    const SimHidDevice first{"hid:loader-1", kLoader, true, false, false};
    const SimHidDevice second{"hid:loader-2", kLoader, true, false, false};
    const SimHidDevice mute{"hid:mute", {0x1234, 0x5678, 0x0100}, false, false, true};

    sim::HidLoaderOptions options;
    options.devices = {other, wrongVersion, once, first, second};
    Start(options);
    ChooseImage(100);
    RunToEnd();
    EXPECT_EQ(m_bus->OpenCalls(),
              (Events{"hid:keyboard", "hid:keyboard", "hid:old-loader", "hid:old-loader",
                      "hid:one-handle", "hid:one-handle", "hid:loader-1", "hid:loader-1"}));
    EXPECT_EQ(m_view->Boxes(), Events{"box Update: Download Finished!"});
    ExpectAllLetGo();

    // A device whose attributes cannot be read ends the search, loader or not behind it.
    options.devices = {mute, first};
    Start(options);
    ChooseImage(100);
    RunToEnd();
    EXPECT_EQ(m_view->Boxes(),
              (Events{"appbox tarvik-updater: Couldn't get HID attributes",
                      "box Prompt: Make sure the Device work under USB-Boot Mode"}));
    EXPECT_EQ(m_bus->Log(), Events{});
    ExpectAllLetGo();

    // Nothing that answers: only the prompt, and Run can go again at once.
    options.devices = {other, wrongVersion};
    Start(options);
    ChooseImage(100);
    RunToEnd();
    RunToEnd();
    EXPECT_EQ(m_view->Events(),
              Events(2, "box Prompt: Make sure the Device work under USB-Boot Mode"));
    ExpectAllLetGo();
}

TEST_F(HidRoadTest, WorkersThatCannotStartSendNothingAndLeaveRunEnabled) {
    for (const int refused : {0, 1}) {
        SCOPED_TRACE(refused);
        Start();
        m_dlg->refuseStart = refused;
        ChooseImage(5000);
        RunToEnd();
        EXPECT_EQ(m_view->Boxes(),
                  Events{refused == 0 ? "box tarvik-updater: HidDownloadThread fail!"
                                      : "box tarvik-updater: HidReadThread fail!"});
        EXPECT_EQ(m_bus->Log(), Events{});
        ExpectAllLetGo();
    }
}

TEST_F(HidRoadTest, CancelEndsTheDownloadAtItsNextStep) {
    sim::HidLoaderOptions options;
    options.reportTime = std::chrono::milliseconds(20);
    Start(options, 1);
    ChooseImage(6 * kBlockSize);
    m_dlg->OnRun();
    ASSERT_TRUE(m_bus->WaitForLog("block 0x0008"));
    m_dlg->CancelUpdate();
    m_dlg->JoinWorkers();
    const Events log = m_bus->Log();
    EXPECT_LT(log.size(), 5u);  // the next block, at most, was under way
    EXPECT_EQ(m_view->Controls().m_strStatus, " Stop !!");
    EXPECT_EQ(m_view->Boxes(), Events{});
    EXPECT_EQ(m_dlg->LastOutcome(), UpdateOutcome::Cancelled);
    ExpectAllLetGo();
}

}  // namespace
}  // namespace tarvik
