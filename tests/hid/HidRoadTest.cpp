// The USB road end to end: Run finds the boot-mode device on a simulated HID bus and sends
// it the image, report by report; the simulated loader checks every byte. Every way out must
// leave no thread, no open handle and Run enabled.
#include "serial/RoadTest.h"

namespace tarvik::test {
namespace {

using sim::HidFaultKind;
using sim::SimHidDevice;
using HidRoadTest = RoadTest;

constexpr HidAttributes kLoader = {0xFFFF, 0x0012, 0x0100};
const std::string kPrompt = "box Prompt: Make sure the Device work under USB-Boot Mode";

sim::HidLoaderOptions WithFault(HidFaultKind kind, int at, int error = 5, int offset = 1) {
    sim::HidLoaderOptions options;
    options.faults.push_back({kind, at, error, offset});
    return options;
}

TEST_F(HidRoadTest, ImagesGoWithStartReportPagesProgressPollsAndThePauseBeforeTheFinalBox) {
    for (const std::size_t size : {5000, 1, 2049, 256 * 1024}) {
        SCOPED_TRACE(size);
        StartHid();
        const Bytes image = ChooseImage(size);
        m_view->OnEvent([this](const std::string& event) { m_timeline->Note(event); });
        RunToEnd();
        EXPECT_EQ(m_bus->Errors(), Events{});
        EXPECT_EQ(m_bus->Flashed(), Padded(image));
        ASSERT_FALSE(m_bus->Pages().empty());
        EXPECT_EQ(m_bus->Pages().back(), 0);
        EXPECT_EQ(m_view->Boxes(), Events{kFinished});
        EXPECT_EQ(m_dlg->LastOutcome(), UpdateOutcome::Succeeded);
        ExpectAllLetGo();
        // Acknowledgement polls of 1 ms, then 2.5 s before the last progress and the box.
        Events lane = m_timeline->LaneWith("status Progressing...");
        ASSERT_GE(lane.size(), 7u);
        EXPECT_EQ(Events(lane.end() - 6, lane.end()),
                  (Events{"sleep 1", "sleep 2500", "progress 100", kFinished,
                          "status Download Finished!", "run on"}));
        if (size == 5000) {
            EXPECT_EQ(m_bus->Log(),
                      (Events{"start", "block 0x0008", "block 0x0010", "block 0x0000"}));
            EXPECT_EQ(m_view->Events(), (Events{"run off", "progress 0", "status Progressing...",
                                                "progress 33", "progress 66", "progress 100",
                                                kFinished, "status Download Finished!", "run on"}));
            std::erase(lane, "sleep 1");
            EXPECT_EQ(lane, (Events{"progress 0", "status Progressing...", "progress 33",
                                    "progress 66", "sleep 2500", "progress 100", kFinished,
                                    "status Download Finished!", "run on"}));
        }
    }
}

// Every way a download ends early: a loader that fails it, a worker that cannot start or
// that throws. The loader sees nothing after the end, and everything is let go.
TEST_F(HidRoadTest, EachFaultEndsWithItsMessagesAndLetsEverythingGo) {
    enum class Act { None, Refuse0, Refuse1, Throw };  // Refuse0/1: the first/second worker
    struct Case {
        const char* what;
        sim::HidLoaderOptions bus;
        Act act;
        int seen;  // how much of the download the loader saw
        std::string box1;
        std::string box2 = {};
    };
    const Events download = {"start", "block 0x0008", "block 0x0010", "block 0x0000"};
    const std::string sendError = "appbox tarvik-updater: Send error= 5";
    const std::string notSent = "appbox tarvik-updater: Couldn't send data  !";
    const std::vector<Case> cases = {
        {"no acknowledgement for block 1", WithFault(HidFaultKind::NoAck, 0), Act::None, 2,
         "box tarvik-updater: NO ACK ,Block no:0X08"},
        {"no acknowledgement for block 0", WithFault(HidFaultKind::NoAck, 2), Act::None, 4,
         "box tarvik-updater: NO Ack1!"},
        {"U5U one byte too early", WithFault(HidFaultKind::AckAtWrongOffset, 1, 5, 1), Act::None, 3,
         "box tarvik-updater: NO ACK ,Block no:0X10"},
        {"a one-byte input report", WithFault(HidFaultKind::ShortReport, 0), Act::None, 2,
         "appbox tarvik-updater: Only read 2 bytes", "box tarvik-updater: NO ACK ,Block no:0X08"},
        {"the start report fails", WithFault(HidFaultKind::WriteFails, 0), Act::None, 0, sendError},
        {"a header report fails", WithFault(HidFaultKind::WriteFails, 43), Act::None, 2, sendError},
        {"the first data report fails", WithFault(HidFaultKind::WriteFails, 2), Act::None, 1,
         sendError + " len=1998", notSent},
        {"the device is unplugged at the last data report", WithFault(HidFaultKind::DeviceGone, 42),
         Act::None, 1, "appbox tarvik-updater: Send error= 19 len=0", notSent},
        {"the download thread cannot start", sim::HidLoaderOptions(), Act::Refuse0, 0,
         "box tarvik-updater: HidDownloadThread fail!"},
        {"the reader thread cannot start", sim::HidLoaderOptions(), Act::Refuse1, 0,
         "box tarvik-updater: HidReadThread fail!"},
        {"a worker that throws", sim::HidLoaderOptions(), Act::Throw, 2,
         "box Fail: Unexpected error: view gone"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StartHid(c.bus, 20);
        ChooseImage(5000);
        m_dlg->refuseStart = c.act == Act::Refuse0 ? 0 : c.act == Act::Refuse1 ? 1 : -1;
        if (c.act == Act::Throw) {
            m_view->OnEvent([](const std::string& event) {
                if (event == "progress 33") {
                    throw std::runtime_error("view gone");
                }
            });
        } else {
            m_view->OnEvent([this](const std::string& event) { m_timeline->Note(event); });
        }
        RunToEnd();
        EXPECT_EQ(m_view->Boxes(), Shown({c.box1, c.box2}));
        const bool refused = c.act == Act::Refuse0 || c.act == Act::Refuse1;
        EXPECT_EQ(m_view->Controls().m_strStatus, refused ? "" : "Progressing...");
        EXPECT_EQ(m_bus->Log(), Events(download.begin(), download.begin() + c.seen));
        // A download that never started has no outcome.
        EXPECT_EQ(m_dlg->LastOutcome(),
                  c.act == Act::Refuse0 ? UpdateOutcome::None : UpdateOutcome::Failed);
        ExpectAllLetGo();
        // An unanswered block is polled 500 times, 1 ms apart; a failed send pauses half a
        // second before Run comes back.
        if (c.box1 == "box tarvik-updater: NO ACK ,Block no:0X08") {
            EXPECT_EQ(std::ranges::count(m_timeline->LaneWith("sleep 1"), "sleep 1"), 500);
        }
        if (c.box1.starts_with(sendError)) {
            const Events lane = m_timeline->LaneWith("sleep 500");
            EXPECT_EQ(Events(std::find(lane.begin(), lane.end(), c.box1), lane.end()),
                      Shown({c.box1, c.box2, "sleep 500", "run on"}));
        }
    }
}

TEST_F(HidRoadTest, DiscoveryTakesTheFirstBootModeDeviceThatOpensTwice) {
    const SimHidDevice other{"hid:keyboard", {0x046D, 0xC31C, 0x0110}};
    const SimHidDevice wrongVersion{"hid:old-loader", {0xFFFF, 0x0012, 0x0101}};
    const SimHidDevice first{"hid:loader-1", kLoader, true};
    sim::HidLoaderOptions options;
    options.devices = {other,
                       wrongVersion,
                       {"hid:one-handle", kLoader, false, true},
                       first,
                       {"hid:loader-2", kLoader, true}};
    StartHid(options);
    ChooseImage(100);
    RunToEnd();
    EXPECT_EQ(m_bus->OpenCalls(),
              (Events{"hid:keyboard", "hid:keyboard", "hid:old-loader", "hid:old-loader",
                      "hid:one-handle", "hid:one-handle", "hid:loader-1", "hid:loader-1"}));
    EXPECT_EQ(m_view->Boxes(), Events{kFinished});
    ExpectAllLetGo();

    // A device whose attributes cannot be read ends the search, loader or not behind it.
    options.devices = {{"hid:mute", {0x1234, 0x5678, 0x0100}, false, false, true}, first};
    StartHid(options);
    ChooseImage(100);
    RunToEnd();
    EXPECT_EQ(m_view->Boxes(),
              (Events{"appbox tarvik-updater: Couldn't get HID attributes", kPrompt}));
    EXPECT_EQ(m_bus->Log(), Events{});
    ExpectAllLetGo();

    // Nothing that answers: only the prompt, and Run can go again at once.
    options.devices = {other, wrongVersion};
    StartHid(options);
    ChooseImage(100);
    RunToEnd();
    RunToEnd();
    EXPECT_EQ(m_view->Events(), Events(2, kPrompt));
    ExpectAllLetGo();
}

TEST_F(HidRoadTest, CancelEndsTheDownloadAtItsNextStep) {
    sim::HidLoaderOptions options;
    options.reportTime = std::chrono::milliseconds(20);
    StartHid(options, 1);
    ChooseImage(6 * kBlockSize);
    m_dlg->OnRun();
    ASSERT_TRUE(m_bus->WaitForLog("block 0x0008"));
    m_dlg->CancelUpdate();
    m_dlg->JoinWorkers();
    EXPECT_LT(m_bus->Log().size(), 5u);  // the next block, at most, was under way
    EXPECT_EQ(m_view->Controls().m_strStatus, " Stop !!");
    EXPECT_EQ(m_view->Boxes(), Events{});
    EXPECT_EQ(m_dlg->LastOutcome(), UpdateOutcome::Cancelled);
    ExpectAllLetGo();
}

}  // namespace
}  // namespace tarvik::test
