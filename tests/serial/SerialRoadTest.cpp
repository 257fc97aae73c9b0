// The serial road end to end: Run wakes, searches and downloads over a real pseudo-terminal
// to the simulated loader, which checks every byte; the operator's view is recorded.
#include <cstdio>
#include <fstream>

#include "app/OperatorTexts.h"
#include "serial/RoadTest.h"
#include "support/ElfBuilder.h"

namespace tarvik::test {
namespace {

using namespace std::chrono_literals;
using sim::Fault;
using sim::FaultKind;
using SerialRoadTest = RoadTest;

const std::string kLost = "box Fail: The serial port was closed or failed.";
const std::string kTimeout = "box Fail: Timeout fail!";

sim::SerialLoaderOptions WithFault(int step, Fault fault) {
    sim::SerialLoaderOptions options;
    options.faults[step] = std::move(fault);
    return options;
}

Fault Late(std::chrono::milliseconds delay) {
    return {FaultKind::LateAck, {}, delay};
}

// The first `n` entries of `lane` from `entry` on.
Events From(const Events& lane, const std::string& entry, std::size_t n) {
    const auto at = std::find(lane.begin(), lane.end(), entry);
    return Events(at, at + std::min<std::ptrdiff_t>(n, lane.end() - at));
}

// The events from the download's start on: the search's own are interleaved by timing.
Events DownloadEvents(const RecordingView& view) {
    const Events all = view.Events();
    auto from = std::find(all.begin(), all.end(), "status Progressing...");
    while (from != all.begin() && *(from - 1) == "progress 0") {
        --from;
    }
    return Events(from, all.end());
}

TEST_F(SerialRoadTest, ImagesGoOutWholeInOrderAndEachThreadPausesWhereTheLoaderNeedsIt) {
    // Each size and the progress between 0 and 100, where it is checked.
    const std::vector<std::pair<std::size_t, std::optional<Events>>> cases = {
        {5000, Events{"progress 33", "progress 66"}},
        {100, Events{}},  // its one flash command is answered just inside the five seconds
        {2049, Events{"progress 50"}},
        {256 * 1024, std::nullopt},
    };
    for (const auto& [size, progress] : cases) {
        SCOPED_TRACE(size);
        Start(size == 100 ? WithFault(1, Late(4600ms)) : sim::SerialLoaderOptions());
        const Bytes image = ChooseImage(size);
        m_view->OnEvent([this](const std::string& event) { m_timeline->Note(event); });
        m_dlg->OnRun();
        // Before Run returns, the window thread wakes the loader at 9600 baud and reopens at
        // 115200. A loader that was not woken never answers: stop at once.
        ASSERT_EQ(From(m_timeline->LaneWith("open 9600"), "open 9600", 8),
                  (Events{"open 9600", "tx A2", "sleep 10", "tx A2", "close", "sleep 100",
                          "open 115200", "run off"}));
        Join();
        // The tool does not wait for the loader to read its reboot command.
        ASSERT_TRUE(m_sim->WaitForLog("URBTU"));
        EXPECT_EQ(m_sim->Errors(), Events{});
        Events log = {"wake@9600", "wake@9600", "UCLRU"};
        const std::size_t blocks = (size + kBlockSize - 1) / kBlockSize;
        for (std::size_t i = 1; i <= blocks; ++i) {
            char frame[32];
            std::snprintf(frame, sizeof frame, "frame 0x%04zX", i % blocks * 8);
            log.insert(log.end(), {"UFLHU", frame});
        }
        log.push_back("URBTU");
        EXPECT_EQ(SimLogWithoutSearch(), log);
        EXPECT_EQ(m_sim->Flashed(), Padded(image));
        EXPECT_TRUE(m_sim->Rebooted());
        if (progress) {
            Events download = {"progress 0", "status Progressing..."};
            download.insert(download.end(), progress->begin(), progress->end());
            download.insert(download.end(),
                            {"progress 100", "status Download Finished!", kFinished, "run on"});
            EXPECT_EQ(DownloadEvents(*m_view), download);
        }
        EXPECT_EQ(m_view->Boxes(), Events{kFinished});
        EXPECT_EQ(m_view->Events().front(), "run off");
        EXPECT_EQ(m_dlg->LastOutcome(), UpdateOutcome::Succeeded);
        EXPECT_EQ(m_dlg->m_nBaud, 0);
        ExpectAllLetGo();
        // The search: one byte, then 150 ms; the answer is read on the receive thread.
        EXPECT_EQ(From(m_timeline->LaneWith("tx A5"), "progress 0", 4),
                  (Events{"progress 0", "status Search Device...", "tx A5", "sleep 150"}));
        // The download: the device's answer, 300 ms, two purges 100 ms apart, then the clear
        // command; at the end 5 ms before the reboot command.
        const Events download = m_timeline->LaneWith("status  Device Found!");
        EXPECT_EQ(
            From(download, "status  Device Found!", 9),
            (Events{"status  Device Found!", "sleep 300", "progress 0", "status Progressing...",
                    "purge", "sleep 100", "purge", "sleep 100", "tx 55 43 4C 52 55"}));
        EXPECT_EQ(From(download, "status Download Finished!", 6),
                  (Events{"status Download Finished!", "sleep 5", "tx 55 52 42 54 55", "close",
                          kFinished, "run on"}));
    }
}

// Every way an update ends early: a loader that fails it, a worker that cannot start or that
// throws, or the operator (Ctrl+C, a confirmed close, Stop) in the middle of a search or a
// download. Nothing is sent after the end, and everything is let go.
TEST_F(SerialRoadTest, EachFailureOrInterruptionEndsWithItsBoxesAndSendsNothingMore) {
    // Close: a download asks and is cancelled. CloseSearch: no question; the search may even
    // have ended within the close's pause. Refuse0/1: the first or second worker is refused.
    enum class Act { None, Refuse0, Refuse1, Throw, CtrlC, Close, CloseSearch, Stop };
    struct Case {
        const char* what;
        sim::SerialLoaderOptions loader;
        double speed;
        Act act;
        const char* waitFor;  // in the loader's log, before the act
        const char* lastSeen;
        UpdateOutcome outcome;
        const char* status;
        std::string box1 = {};
        std::string box2 = {};
    };
    const auto fault = [](int step, FaultKind kind, std::string_view bytes = {}) {
        return WithFault(step, {kind, Bytes(bytes.begin(), bytes.end()), {}});
    };
    const sim::SerialLoaderOptions plain;
    sim::SerialLoaderOptions neverAnswers;
    neverAnswers.answerSearch = false;
    const auto failed = UpdateOutcome::Failed;
    const auto cancelled = UpdateOutcome::Cancelled;
    const char* progressing = "Progressing...";
    const char* stopped = " Stop !!";
    const std::vector<Case> cases = {
        {"silent after the clear command", fault(0, FaultKind::Silence), 25, Act::None, nullptr,
         "UCLRU", failed, progressing, kTimeout, "box UCLRU: NO Ack!"},
        {"a flash command answered just outside the five seconds", WithFault(1, Late(5400ms)), 4,
         Act::None, nullptr, "UFLHU", failed, progressing, kTimeout, "box UFLHU: NO Ack!"},
        {"wrong reply to a flash command", fault(1, FaultKind::WrongReply, "U6U"), 25, Act::None,
         nullptr, "UFLHU", failed, progressing, "box tarvik-updater: U,6,U", "box UFLHU: NO Ack!"},
        {"silent after the first block", fault(2, FaultKind::Silence), 25, Act::None, nullptr,
         "frame 0x0008", failed, progressing, kTimeout, "box data: NO Ack 2!"},
        {"stray byte after an acknowledgement", fault(2, FaultKind::StrayBytes, "x"), 25, Act::None,
         nullptr, "UFLHU", failed, progressing, "box tarvik-updater: x,U,5", "box UFLHU: NO Ack!"},
        {"silent after block 0", fault(6, FaultKind::Silence), 25, Act::None, nullptr,
         "frame 0x0000", failed, progressing, kTimeout, "box data: NO Ack 2!"},
        {"line held after a flash command: the block's write stalls",
         fault(1, FaultKind::StallLine), 25, Act::None, nullptr, "UFLHU", failed, progressing,
         kLost, "box data: NO Ack 2!"},
        {"the send thread cannot start", plain, 4, Act::Refuse0, nullptr, "wake@9600",
         UpdateOutcome::None, "", "box tarvik-updater: SendThread fail!"},
        {"the receive thread cannot start", plain, 4, Act::Refuse1, nullptr, "wake@9600",
         UpdateOutcome::None, "", "box tarvik-updater: ReceiveThread fail!"},
        {"a worker that throws", plain, 4, Act::Throw, nullptr, "frame 0x0008", failed, progressing,
         "box Fail: Unexpected error: view gone"},
        {"Stop during the search", neverAnswers, 4, Act::Stop, "search@115200", "wake@9600",
         cancelled, stopped},
        {"close during the search", neverAnswers, 4, Act::CloseSearch, "search@115200", "wake@9600",
         cancelled, "Search Device..."},
        {"Stop while an acknowledgement is awaited", fault(2, FaultKind::Silence), 1, Act::Stop,
         "frame 0x0008", "frame 0x0008", failed, stopped, kLost, "box data: NO Ack 2!"},
        {"Ctrl+C on a held line", fault(1, FaultKind::StallLine), 4, Act::CtrlC, "UFLHU", "UFLHU",
         cancelled, stopped},
        {"confirmed close while a block's acknowledgement is late", WithFault(4, Late(2000ms)), 4,
         Act::Close, "frame 0x0010", "frame 0x0010", cancelled, stopped},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // Only the cancel can end a held write here: the line's own stall limit is an hour away.
        const bool held = c.act != Act::None && !c.loader.faults.empty() &&
                          c.loader.faults.begin()->second.kind == FaultKind::StallLine;
        Start(c.loader, c.speed, held ? 1h : kWriteStallLimit);
        ChooseImage(5000);
        m_dlg->refuseStart = c.act == Act::Refuse0 ? 0 : c.act == Act::Refuse1 ? 1 : -1;
        if (c.act == Act::Throw) {
            m_view->OnEvent([](const std::string& event) {
                if (event == "progress 33") {
                    throw std::runtime_error("view gone");
                }
            });
        }
        m_dlg->OnRun();
        if (c.waitFor != nullptr) {
            ASSERT_TRUE(m_sim->WaitForLog(c.waitFor));
            if (held) {
                std::this_thread::sleep_for(300ms);  // the frame's write blocks
            }
            EXPECT_FALSE(m_view->RunEnabled());
            EXPECT_TRUE(m_dlg->UpdateRunning());
            m_dlg->OnRun();  // Run cannot be pressed now; a command that reaches us does nothing
        }
        if (c.act == Act::CtrlC) {
            m_dlg->CancelUpdate();
        } else if (c.act == Act::Close) {
            EXPECT_EQ(m_dlg->OnClose(), CloseAnswer::CloseWhenDone);
        } else if (c.act == Act::CloseSearch) {
            EXPECT_NE(m_dlg->OnClose(), CloseAnswer::Stay);
        } else if (c.act == Act::Stop) {
            m_dlg->OnStop();
        }
        Join(10s);
        EXPECT_EQ(m_view->Boxes(), Shown({c.box1, c.box2}));
        EXPECT_EQ(SimLogWithoutSearch().back(), c.lastSeen);
        EXPECT_FALSE(m_sim->Rebooted());
        if (c.act != Act::Stop) {  // Stop shows its status when it is done, whenever that is
            EXPECT_EQ(m_view->Events().back(), "run on");
        }
        if (c.act != Act::Refuse1) {  // the search may or may not have shown its status yet
            EXPECT_EQ(m_view->Controls().m_strStatus, c.status);
        }
        EXPECT_EQ(m_dlg->LastOutcome(), c.outcome);
        ExpectAllLetGo();
    }
}

TEST_F(SerialRoadTest, ClosingDuringADownloadAsksAndNoLetsItFinish) {
    // Block 0's flash command is answered late, so the download is surely under way.
    Start(WithFault(5, Late(1500ms)));
    ChooseImage(5000);
    m_dlg->OnRun();
    ASSERT_TRUE(m_sim->WaitForLog("frame 0x0010"));
    m_view->AnswerConfirm(false);
    EXPECT_EQ(m_dlg->OnCancelOrOk(), CloseAnswer::Stay);
    ASSERT_TRUE(m_view->WaitFor(kFinished));
    m_dlg->JoinWorkers();
    EXPECT_EQ(m_dlg->OnClose(), CloseAnswer::Close);  // nothing runs any more: no question
    const std::string question = "confirm tarvik-updater: " + std::string(kConfirmStopDownload);
    EXPECT_EQ(std::ranges::count(m_view->Events(), question), 1);
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
    const std::string unavailable = "box tarvik-updater: Serial Port is unavaible!";
    const std::string held =
        unavailable + "\n" + m_sim->DevicePath().string() + " is held by another program.";
    EXPECT_EQ(m_view->Boxes(),
              (Events{held, held, unavailable + "\n" + missing.string() + " does not exist.",
                      unavailable}));
    for (const auto& box : m_view->BoxRequests()) {
        EXPECT_EQ(box.type, kMbIconHand);
    }
    EXPECT_TRUE(m_view->RunEnabled());
    EXPECT_EQ(m_dlg->m_nBaud, 0);
    EXPECT_EQ(m_sim->Log(), Events{});
}

// Run refuses before it wakes, opens or searches anything, on either road: no file chosen, or
// an image that cannot be sent. The boxes say why, and all is let go.
TEST_F(SerialRoadTest, ARunThatCannotStartTouchesNoDeviceOnEitherRoad) {
    namespace fs = std::filesystem;
    const fs::path fw = m_dir.Path() / "fw.bin";
    const std::string cannotOpen = "box Error: Cannot open firmware image " + fw.string() + ": ";
    const std::string image = "box Error: The firmware image " + fw.string();
    // How the chosen fw.bin is made (none chosen: null), and the boxes.
    const std::vector<std::pair<std::function<void()>, Events>> cases = {
        {nullptr,
         {"box tarvik-updater: Please select a file first !", "box Error: File Convert fail!"}},
        {[] {}, {cannotOpen + "No such file or directory."}},
        {[&] { fs::create_directory(fw); }, {cannotOpen + "Is a directory."}},
        {[&] { std::ofstream{fw}; }, {image + " is empty; nothing was sent."}},
#ifndef _WIN32
        // A file that nobody may read, root included: a write-only sysfs attribute.
        {[&] { fs::create_symlink("/sys/bus/platform/uevent", fw); },
         {cannotOpen + "Permission denied."}},
#endif
        {[&] { fs::resize_file(m_dir.Write("fw.bin", {1}), kMaxBlocks * kBlockSize + 1); },
         {image + " has 16777217 bytes; at most 16777216 bytes (8192 blocks) can be sent."}},
    };
    for (const auto& [make, boxes] : cases) {
        for (const int port : {3, 0}) {
            SCOPED_TRACE(boxes.back() + " on port " + std::to_string(port));
            Start();
            fs::remove_all(fw);
            if (make) {
                make();
                Choose(fw);
            }
            m_view->Type([&](DialogData& c) { c.m_nPort = port; });
            RunToEnd();
            EXPECT_EQ(m_view->Boxes(), boxes);
            EXPECT_EQ(m_sim->Log(), Events{});
            EXPECT_EQ(m_bus->OpenCalls(), Events{});
            if (make) {
                EXPECT_EQ(m_dlg->LastOutcome(), UpdateOutcome::Failed);
            }
            ExpectAllLetGo();
        }
    }
}

TEST_F(SerialRoadTest, AnElfIsConvertedBesideItselfThenFlashed) {
    Start();
    const Bytes elf = Elf(0x400, {{0x200, 0, 0x80}});
    Choose(m_dir.Write("app.out", elf));
    RunToEnd();
    EXPECT_EQ(m_sim->Errors(), Events{});
    const Bytes expected(elf.begin() + 0x200, elf.begin() + 0x280);
    EXPECT_EQ(m_dir.Read("app.bin"), expected);
    EXPECT_EQ(m_sim->Flashed(), Padded(expected));
}

}  // namespace
}  // namespace tarvik::test
