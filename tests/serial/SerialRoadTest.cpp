// The serial road end to end: Run wakes, searches and downloads over a real pseudo-terminal
// to the simulated loader, which checks every byte; the operator's view is recorded.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include "app/UpdaterDlg.h"
#include "support/BadImages.h"
#include "support/RecordingView.h"
#include "support/RefusingDlg.h"
#include "support/SimulatedSerialLoader.h"
#include "support/TempDir.h"
#include "support/Timeline.h"

namespace tarvik {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Events = std::vector<std::string>;
using sim::Fault;
using sim::FaultKind;

sim::SerialLoaderOptions WithFault(int step, Fault fault) {
    sim::SerialLoaderOptions options;
    options.faults[step] = std::move(fault);
    return options;
}

sim::SerialLoaderOptions NeverAnswers() {
    sim::SerialLoaderOptions options;
    options.answerSearch = false;
    return options;
}

PortNames NoEnvironment() {
    return PortNames([](const std::string&) { return std::optional<std::string>(); });
}

class SerialRoadTest : public ::testing::Test {
protected:
    // A loader on COM3, and a dialog on the same clock, initialised and set to COM3.
    // Anything from an earlier Start goes first, dialog before loader.
    void Start(sim::SerialLoaderOptions options = {}, double speed = 4,
               Clock::Duration writeStallLimit = kWriteStallLimit) {
        m_dlg.reset();
        m_sim.reset();
        m_view = std::make_unique<test::RecordingView>();
        m_ports = NoEnvironment();
        m_clock = std::make_unique<ScaledClock>(speed);
        options.clock = m_clock.get();
        m_sim = std::make_unique<test::SimulatedSerialLoader>(options, writeStallLimit);
        m_ports.Override(3, m_sim->DevicePath());
        m_opener = &m_sim->Opener();
        m_timeline = std::make_unique<test::TimelineClock>(*m_clock);
        m_timelineOpener = std::make_unique<test::TimelinePortOpener>(*m_opener, *m_timeline);
        m_dlg = std::make_unique<test::RefusingDlg>(*m_view, *m_timeline, "tarvik-updater",
                                                    UpdaterLinks{m_timelineOpener.get(), &m_ports});
        m_dlg->OnInitDialog();
        m_view->Type([](DialogData& c) { c.m_nPort = 3; });
    }

    // The operator chooses `name` in the test folder, as the file dialog would leave it.
    void Choose(const std::string& name) {
        const FirmwareFile file = FirmwareFileFromPath(m_dir.Path() / name);
        m_dlg->m_strFileFolder = file.folder;
        m_dlg->m_strFileExt = file.ext;
        m_view->Type([&](DialogData& c) { c.m_strFileTitle = file.title; });
    }

    Bytes ChooseImage(std::size_t size) {
        Bytes image = test::PatternBytes(size, static_cast<unsigned>(size));
        m_dir.Write("fw.bin", image);
        Choose("fw.bin");
        return image;
    }

    void RunToEnd() {
        m_dlg->OnRun();
        m_dlg->JoinWorkers();
    }

    // The events from the download's start on: the search's own are interleaved by timing.
    Events DownloadEvents() const {
        const Events all = m_view->Events();
        auto from = std::find(all.begin(), all.end(), "status Progressing...");
        while (from != all.begin() && *(from - 1) == "progress 0") {
            --from;
        }
        return Events(from, all.end());
    }

    static Bytes Padded(Bytes image) {
        image.resize((image.size() + kBlockSize - 1) / kBlockSize * kBlockSize, 0);
        return image;
    }

    Events SimLogWithoutSearch() const {
        Events log = m_sim->Log();
        std::erase(log, "search@115200");
        return log;
    }

    test::TempDir m_dir;
    std::unique_ptr<test::RecordingView> m_view;
    PortNames m_ports = NoEnvironment();
    std::unique_ptr<ScaledClock> m_clock;
    std::unique_ptr<test::SimulatedSerialLoader> m_sim;
    SerialPortOpener* m_opener = nullptr;             // m_sim's
    std::unique_ptr<test::TimelineClock> m_timeline;  // the dialog's clock and ports
    std::unique_ptr<test::TimelinePortOpener> m_timelineOpener;
    std::unique_ptr<test::RefusingDlg> m_dlg;
};

// The first `n` entries of `lane` from `entry` on.
Events From(const Events& lane, const std::string& entry, std::size_t n) {
    const auto at = std::find(lane.begin(), lane.end(), entry);
    return Events(at, at + std::min<std::ptrdiff_t>(n, lane.end() - at));
}

TEST_F(SerialRoadTest, ThreeBlocksGoOutInOrderAndTheOperatorSeesEveryStep) {
    Start();
    const Bytes image = ChooseImage(5000);
    RunToEnd();
    ASSERT_TRUE(m_sim->WaitForLog("URBTU"));  // the tool does not wait for the loader to read it
    EXPECT_EQ(m_sim->Errors(), Events{});
    EXPECT_EQ(SimLogWithoutSearch(),
              (Events{"wake@9600", "wake@9600", "UCLRU", "UFLHU", "frame 0x0008", "UFLHU",
                      "frame 0x0010", "UFLHU", "frame 0x0000", "URBTU"}));
    EXPECT_EQ(m_sim->Flashed(), Padded(image));
    EXPECT_TRUE(m_sim->Rebooted());
    EXPECT_EQ(DownloadEvents(), (Events{"progress 0", "status Progressing...", "progress 33",
                                        "progress 66", "progress 100", "status Download Finished!",
                                        "box Update: Download Finished!", "run on"}));
    const Events all = m_view->Events();
    EXPECT_EQ(all.front(), "run off");
    EXPECT_NE(std::find(all.begin(), all.end(), "status  Device Found!"), all.end());
    EXPECT_EQ(m_dlg->LastOutcome(), UpdateOutcome::Succeeded);
    EXPECT_EQ(m_dlg->m_bIdle, 1);
    EXPECT_EQ(m_dlg->m_nBaud, 0);
    EXPECT_FALSE(m_dlg->Port());
}

TEST_F(SerialRoadTest, EachThreadPausesWhereTheLoaderNeedsIt) {
    Start();
    ChooseImage(100);
    m_view->OnEvent([this](const std::string& event) { m_timeline->Note(event); });
    RunToEnd();
    ASSERT_EQ(m_view->Boxes(), Events{"box Update: Download Finished!"});
    // The window thread wakes the loader at 9600 baud and reopens at 115200.
    EXPECT_EQ(From(m_timeline->LaneWith("tx A2"), "open 9600", 8),
              (Events{"open 9600", "tx A2", "sleep 10", "tx A2", "close", "sleep 100",
                      "open 115200", "run off"}));
    // The search: one byte, then 150 ms; the answer is read on the receive thread.
    EXPECT_EQ(From(m_timeline->LaneWith("tx A5"), "progress 0", 4),
              (Events{"progress 0", "status Search Device...", "tx A5", "sleep 150"}));
    // The download: the device's answer, 300 ms, two purges 100 ms apart, then the clear
    // command; at the end 5 ms before the reboot command.
    const Events download = m_timeline->LaneWith("status  Device Found!");
    EXPECT_EQ(From(download, "status  Device Found!", 9),
              (Events{"status  Device Found!", "sleep 300", "progress 0", "status Progressing...",
                      "purge", "sleep 100", "purge", "sleep 100", "tx 55 43 4C 52 55"}));
    EXPECT_EQ(From(download, "status Download Finished!", 6),
              (Events{"status Download Finished!", "sleep 5", "tx 55 52 42 54 55", "close",
                      "box Update: Download Finished!", "run on"}));
}

TEST_F(SerialRoadTest, ImagesOfOneTwoAndOneHundredTwentyEightBlocksArriveWhole) {
    for (const std::size_t size : {std::size_t{100}, std::size_t{2049}, std::size_t{256 * 1024}}) {
        SCOPED_TRACE(size);
        Start();
        const Bytes image = ChooseImage(size);
        RunToEnd();
        EXPECT_EQ(m_sim->Errors(), Events{});
        EXPECT_EQ(m_sim->Flashed(), Padded(image));
        const auto pages = m_sim->Pages();
        ASSERT_FALSE(pages.empty());
        EXPECT_EQ(pages.back(), 0);
        EXPECT_EQ(pages.size(), (size + kBlockSize - 1) / kBlockSize);
        EXPECT_EQ(m_view->Boxes(), Events{"box Update: Download Finished!"});
        if (size <= kBlockSize) {
            EXPECT_EQ(DownloadEvents(), (Events{"progress 0", "status Progressing...",
                                                "progress 100", "status Download Finished!",
                                                "box Update: Download Finished!", "run on"}));
        }
    }
}

TEST_F(SerialRoadTest, EachMissingOrWrongAcknowledgementEndsWithItsTwoBoxes) {
    struct Case {
        const char* what;
        int step;
        Fault fault;
        Events boxes;
        const char* lastSeen;
    };
    const std::vector<Case> cases = {
        {"silent after the clear command",
         0,
         {FaultKind::Silence, {}, {}},
         {"box Fail: Timeout fail!", "box UCLRU: NO Ack!"},
         "UCLRU"},
        {"wrong reply to a flash command",
         1,
         {FaultKind::WrongReply, {'U', '6', 'U'}, {}},
         {"box tarvik-updater: U,6,U", "box UFLHU: NO Ack!"},
         "UFLHU"},
        {"silent after the first block",
         2,
         {FaultKind::Silence, {}, {}},
         {"box Fail: Timeout fail!", "box data: NO Ack 2!"},
         "frame 0x0008"},
        {"stray byte after an acknowledgement",
         2,
         {FaultKind::StrayBytes, {'x'}, {}},
         {"box tarvik-updater: x,U,5", "box UFLHU: NO Ack!"},
         "UFLHU"},
        {"silent after block 0",
         6,
         {FaultKind::Silence, {}, {}},
         {"box Fail: Timeout fail!", "box data: NO Ack 2!"},
         "frame 0x0000"},
        {"line held after a flash command: the block's write stalls",
         1,
         {FaultKind::StallLine, {}, {}},
         {"box Fail: The serial port was closed or failed.", "box data: NO Ack 2!"},
         "UFLHU"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Start(WithFault(c.step, c.fault), 25);
        ChooseImage(5000);
        RunToEnd();
        EXPECT_EQ(m_view->Boxes(), c.boxes);
        EXPECT_EQ(SimLogWithoutSearch().back(), c.lastSeen);  // nothing sent after the failure
        EXPECT_FALSE(m_sim->Rebooted());
        EXPECT_TRUE(m_view->RunEnabled());
        EXPECT_EQ(m_view->Events().back(), "run on");
        EXPECT_EQ(m_view->Controls().m_strStatus, "Progressing...");
        EXPECT_EQ(m_dlg->LastOutcome(), UpdateOutcome::Failed);
        EXPECT_FALSE(m_dlg->Port());
    }
}

TEST_F(SerialRoadTest, AcknowledgementJustInsideTheFiveSecondsCountsAndJustOutsideDoesNot) {
    Start(WithFault(1, {FaultKind::LateAck, {}, std::chrono::milliseconds(4600)}));
    ChooseImage(100);
    RunToEnd();
    EXPECT_EQ(m_view->Boxes(), Events{"box Update: Download Finished!"});

    Start(WithFault(1, {FaultKind::LateAck, {}, std::chrono::milliseconds(5400)}));
    ChooseImage(100);
    RunToEnd();
    EXPECT_EQ(m_view->Boxes(), (Events{"box Fail: Timeout fail!", "box UFLHU: NO Ack!"}));
}

TEST_F(SerialRoadTest, StopDuringTheSearchEndsItWithoutADownload) {
    Start(NeverAnswers());
    ChooseImage(5000);
    m_dlg->OnRun();
    ASSERT_TRUE(m_sim->WaitForLog("search@115200"));
    EXPECT_FALSE(m_view->RunEnabled());
    EXPECT_TRUE(m_dlg->UpdateRunning());
    // Run cannot be pressed now; a command that reaches the dialog anyway does nothing.
    const auto before = m_view->Boxes();
    m_dlg->OnRun();
    EXPECT_EQ(m_view->Boxes(), before);
    m_dlg->OnStop();
    m_dlg->JoinWorkers();
    EXPECT_TRUE(m_view->RunEnabled());
    EXPECT_EQ(m_view->Controls().m_strStatus, " Stop !!");
    EXPECT_EQ(m_view->Boxes(), Events{});
    const Events log = m_sim->Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "UCLRU"), 0);
    EXPECT_EQ(m_dlg->m_bIdle, 1);
    EXPECT_FALSE(m_dlg->Port());
    // The port is free again: a second Run finds a device that answers... or at least opens.
    EXPECT_EQ(m_dlg->LastOutcome(), UpdateOutcome::Cancelled);
}

TEST_F(SerialRoadTest, ClosingOrCancellingDuringTheSearchLetsThePortGo) {
    Start(NeverAnswers());
    ChooseImage(5000);
    m_dlg->OnRun();
    ASSERT_TRUE(m_sim->WaitForLog("search@115200"));
    // No question during a search; it may even have ended within the close message's pause.
    EXPECT_NE(m_dlg->OnClose(), CloseAnswer::Stay);
    m_dlg->JoinWorkers();
    EXPECT_FALSE(m_dlg->UpdateRunning());
    EXPECT_TRUE(m_view->RunEnabled());
    EXPECT_FALSE(m_dlg->Port());
    EXPECT_EQ(m_view->Boxes(), Events{});
    const auto reopened = m_opener->Open(m_sim->DevicePath(), 115200);
    EXPECT_TRUE(reopened.port) << reopened.error.reason;
}

TEST_F(SerialRoadTest, ClosingDuringADownloadAsksAndOnlyYesEndsIt) {
    // Block 0's flash command is answered late, so the download is surely under way.
    Start(WithFault(5, {FaultKind::LateAck, {}, std::chrono::milliseconds(1500)}));
    ChooseImage(5000);
    m_dlg->OnRun();
    ASSERT_TRUE(m_sim->WaitForLog("frame 0x0010"));
    m_view->AnswerConfirm(false);
    EXPECT_EQ(m_dlg->OnCancelOrOk(), CloseAnswer::Stay);
    ASSERT_TRUE(m_view->WaitFor("box Update: Download Finished!"));
    m_dlg->JoinWorkers();
    EXPECT_EQ(m_dlg->OnClose(), CloseAnswer::Close);  // nothing runs any more: no question
    const Events confirms = [&] {
        Events found;
        for (const auto& e : m_view->Events()) {
            if (e.starts_with("confirm ")) {
                found.push_back(e);
            }
        }
        return found;
    }();
    ASSERT_EQ(confirms.size(), 1u);
    EXPECT_EQ(confirms[0].substr(0, 31), "confirm tarvik-updater: A downl");

    Start(WithFault(5, {FaultKind::LateAck, {}, std::chrono::milliseconds(1500)}));
    ChooseImage(5000);
    m_dlg->OnRun();
    ASSERT_TRUE(m_sim->WaitForLog("frame 0x0010"));
    EXPECT_EQ(m_dlg->OnClose(), CloseAnswer::CloseWhenDone);
    m_dlg->JoinWorkers();
    EXPECT_EQ(SimLogWithoutSearch().back(), "UFLHU");
    EXPECT_EQ(m_dlg->LastOutcome(), UpdateOutcome::Cancelled);
    EXPECT_FALSE(m_dlg->UpdateRunning());
}

TEST_F(SerialRoadTest, CtrlCOrAConfirmedCloseEndsADownloadBlockedOnAHeldLine) {
    for (const bool closing : {false, true}) {
        SCOPED_TRACE(closing ? "confirmed close" : "Ctrl+C");
        // Only the cancel can end this write: the line's own stall limit is an hour away.
        Start(WithFault(1, {FaultKind::StallLine, {}, {}}), 4, std::chrono::hours(1));
        ChooseImage(5000);
        m_dlg->OnRun();
        ASSERT_TRUE(m_sim->WaitForLog("UFLHU"));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the frame's write blocks
        if (closing) {
            EXPECT_EQ(m_dlg->OnClose(), CloseAnswer::CloseWhenDone);
        } else {
            m_dlg->CancelUpdate();
        }
        auto joined = std::async(std::launch::async, [&] { m_dlg->JoinWorkers(); });
        const bool ended = joined.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        EXPECT_TRUE(ended) << "the blocked write did not wake";
        if (!ended) {
            m_dlg->OnStop();  // let the test end
        }
        joined.get();
        EXPECT_EQ(SimLogWithoutSearch().back(), "UFLHU");
        EXPECT_EQ(m_view->Boxes(), Events{});
        EXPECT_EQ(m_view->Controls().m_strStatus, " Stop !!");
        EXPECT_EQ(m_dlg->LastOutcome(), UpdateOutcome::Cancelled);
        EXPECT_TRUE(m_view->RunEnabled());
        EXPECT_FALSE(m_dlg->Port());
        EXPECT_TRUE(m_opener->Open(m_sim->DevicePath(), 115200).port);
    }
}

TEST_F(SerialRoadTest, AWorkerThatThrowsEndsItsUpdateThroughAFailureExit) {
    Start();
    ChooseImage(5000);
    m_view->OnEvent([](const std::string& event) {
        if (event == "progress 33") {
            throw std::runtime_error("view gone");
        }
    });
    RunToEnd();
    EXPECT_EQ(m_view->Boxes(), Events{"box Fail: Unexpected error: view gone"});
    EXPECT_EQ(SimLogWithoutSearch().back(), "frame 0x0008");
    EXPECT_EQ(m_dlg->LastOutcome(), UpdateOutcome::Failed);
    EXPECT_TRUE(m_view->RunEnabled());
    EXPECT_FALSE(m_dlg->Port());
}

TEST_F(SerialRoadTest, CancelDuringTheDownloadSendsNothingMore) {
    Start(WithFault(4, {FaultKind::LateAck, {}, std::chrono::milliseconds(2000)}));
    ChooseImage(5000);
    m_dlg->OnRun();
    ASSERT_TRUE(m_sim->WaitForLog("frame 0x0010"));
    m_dlg->CancelUpdate();
    m_dlg->JoinWorkers();
    EXPECT_EQ(SimLogWithoutSearch().back(), "frame 0x0010");
    EXPECT_EQ(m_view->Boxes(), Events{});
    EXPECT_EQ(m_view->Controls().m_strStatus, " Stop !!");
    EXPECT_EQ(m_dlg->LastOutcome(), UpdateOutcome::Cancelled);
    EXPECT_TRUE(m_view->RunEnabled());
    EXPECT_FALSE(m_dlg->Port());
}

TEST_F(SerialRoadTest, PortClosedUnderTheDownloadEndsItThroughAFailureExit) {
    Start(WithFault(2, {FaultKind::Silence, {}, {}}), 1);
    ChooseImage(5000);
    m_dlg->OnRun();
    ASSERT_TRUE(m_sim->WaitForLog("frame 0x0008"));
    m_dlg->OnStop();
    m_dlg->JoinWorkers();
    EXPECT_EQ(m_view->Boxes(),
              (Events{"box Fail: The serial port was closed or failed.", "box data: NO Ack 2!"}));
    EXPECT_TRUE(m_view->RunEnabled());
    EXPECT_EQ(SimLogWithoutSearch().back(), "frame 0x0008");
}

TEST_F(SerialRoadTest, PortThatCannotBeOpenedIsToldOnceWithTheSystemsReasonAndLeavesRunEnabled) {
    Start();
    ChooseImage(100);
    // Held by someone else.
    auto holder = m_opener->Open(m_sim->DevicePath(), 9600);
    ASSERT_TRUE(holder.port);
    RunToEnd();
    // A maintenance command opens the port the same way, and is told the same.
    m_dlg->OnReset();
    holder.port->Close();
    // Not there at all; and the USB entry, which names no serial port, so no reason.
    const auto missing = m_dir.Path() / "no-such-tty";
    m_ports.Override(5, missing);
    m_view->Type([](DialogData& c) { c.m_nPort = 5; });
    RunToEnd();
    m_view->Type([](DialogData& c) { c.m_nPort = 0; });
    m_dlg->RunSerial();
    const std::string held = "box tarvik-updater: Serial Port is unavaible!\n" +
                             m_sim->DevicePath().string() + " is held by another program.";
    EXPECT_EQ(m_view->Boxes(), (Events{held, held,
                                       "box tarvik-updater: Serial Port is unavaible!\n" +
                                           missing.string() + " does not exist.",
                                       "box tarvik-updater: Serial Port is unavaible!"}));
    for (const auto& box : m_view->BoxRequests()) {
        EXPECT_EQ(box.type, kMbIconHand);
    }
    EXPECT_TRUE(m_view->RunEnabled());
    EXPECT_EQ(m_dlg->m_nBaud, 0);
    EXPECT_EQ(m_sim->Log(), Events{});
}

TEST_F(SerialRoadTest, WorkersThatCannotStartLeaveRunEnabledAndThePortFree) {
    for (const int refused : {0, 1}) {
        SCOPED_TRACE(refused);
        Start();
        m_dlg->refuseStart = refused;
        ChooseImage(100);
        RunToEnd();
        EXPECT_EQ(m_view->Boxes(),
                  Events{refused == 0 ? "box tarvik-updater: SendThread fail!"
                                      : "box tarvik-updater: ReceiveThread fail!"});
        EXPECT_TRUE(m_view->RunEnabled());
        EXPECT_EQ(m_dlg->m_bIdle, 1);
        EXPECT_FALSE(m_dlg->Port());
        EXPECT_TRUE(m_opener->Open(m_sim->DevicePath(), 115200).port);
    }
}

TEST_F(SerialRoadTest, ConversionRunsFirstAndItsFailureTouchesNoPort) {
    Start();
    // No file chosen at all.
    RunToEnd();
    EXPECT_EQ(m_view->Boxes(), (Events{"box tarvik-updater: Please select a file first !",
                                       "box Error: File Convert fail!"}));
    EXPECT_EQ(m_sim->Log(), Events{});

    // An ELF: converted beside itself, then flashed.
    Bytes elf(0x400, 0);
    elf[1] = 'E', elf[2] = 'L', elf[3] = 'F', elf[28] = 0x34, elf[44] = 1;
    elf[0x34 + 5] = 0x02;   // p_offset 0x200
    elf[0x34 + 16] = 0x80;  // p_filesz 0x80
    for (std::size_t i = 0x200; i < 0x400; ++i) {
        elf[i] = static_cast<std::uint8_t>(i);
    }
    m_dir.Write("app.out", elf);
    Choose("app.out");
    RunToEnd();
    EXPECT_EQ(m_sim->Errors(), Events{});
    Bytes expected(elf.begin() + 0x200, elf.begin() + 0x280);
    EXPECT_EQ(m_dir.Read("app.bin"), expected);
    EXPECT_EQ(m_sim->Flashed(), Padded(expected));
}

TEST_F(SerialRoadTest, AnImageThatCannotBeSentWakesNoLoader) {
    for (const auto& bad : test::BadImages()) {
        SCOPED_TRACE(bad.what);
        Start();
        test::TempDir dir;
        bad.make(dir);
        m_dlg->m_strFileFolder = dir.Path();
        m_dlg->m_strFileExt = "bin";
        m_view->Type([](DialogData& c) { c.m_strFileTitle = "fw"; });
        RunToEnd();
        const auto boxes = m_view->Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_TRUE(boxes[0].starts_with("box Error: ")) << boxes[0];
        EXPECT_NE(boxes[0].find(bad.told), std::string::npos) << boxes[0];
        EXPECT_EQ(m_sim->Log(), Events{});
        EXPECT_TRUE(m_view->RunEnabled());
        EXPECT_EQ(m_dlg->LastOutcome(), UpdateOutcome::Failed);
    }
}

TEST_F(SerialRoadTest, StopWhileIdleOnlyShowsItsStatus) {
    Start();
    m_dlg->OnStop();
    EXPECT_EQ(m_view->Events(), Events{"status  Stop !!"});
    EXPECT_EQ(m_dlg->m_bIdle, 1);
}

}  // namespace
}  // namespace tarvik
