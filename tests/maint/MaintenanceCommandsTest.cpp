// The maintenance commands: each one's frames exactly as they leave (the rate of each
// opening, every write request's bytes, the 1 ms pause, the reads, the close) and what the
// operator sees; then against the simulated loader: a reply that never comes, and the refusal
// while an update holds the port.
#include <functional>

#include "serial/RoadTest.h"
#include "sim/HexText.h"

namespace tarvik {
namespace {

using namespace std::string_literals;
using Events = std::vector<std::string>;
using Handler = std::function<void(CUpdaterDlg&)>;
using Dlg = CUpdaterDlg;

// The fixture is the dialog's serial port: its every opening, write request, read (its size)
// and close goes onto the dialog thread's time line, between its sleeps.
class MaintenanceFramesTest : public ::testing::Test, public SerialPortOpener, public SerialPort {
protected:
    MaintenanceFramesTest() {
        m_ports.Override(2, "/dev/sim-com2");
        m_dlg.OnInitDialog();
        m_view.Type([](DialogData& c) { c.m_nPort = 2; });
    }

    SerialOpenResult Open(const std::filesystem::path& device, std::uint32_t baud) override {
        m_timeline.Note("open " + device.string() + " " + std::to_string(baud));
        m_open = true;
        return {std::shared_ptr<SerialPort>(this, [](SerialPort*) {}), {}};
    }
    std::optional<std::size_t> Read(std::span<std::uint8_t> buf) override {
        m_timeline.Note("read " + std::to_string(buf.size()));
        const std::string reply = std::exchange(m_reply, "");
        std::copy(reply.begin(), reply.end(), buf.begin());
        return reply.size();
    }
    bool Write(std::span<const std::uint8_t> data) override {
        m_timeline.Note("write " + sim::HexBytes(data));
        return true;
    }
    void Purge() override {}
    void Close() override {
        if (std::exchange(m_open, false)) {
            m_timeline.Note("close");
        }
    }
    bool IsOpen() const override { return m_open; }

    // What the dialog's thread sent, slept and read so far.
    Events Line() const {
        const auto lanes = m_timeline.Lanes();
        return lanes.empty() ? Events{} : lanes.front();
    }

    std::string m_reply;  // what the next read brings; then nothing
    bool m_open = false;
    test::TimelineClock m_timeline{RealClock()};
    PortNames m_ports{[](const std::string&) { return std::optional<std::string>(); }};
    test::RecordingView m_view;
    CUpdaterDlg m_dlg{m_view, m_timeline, "tarvik-updater", {this, &m_ports, nullptr}};
};

const std::string kOpen = "open /dev/sim-com2 9600";

// One command frame: the lead byte, then the four characters, with a pause between them when
// a reply of `read` bytes is read after them.
Events Command(const std::string& characters, std::size_t read = 0) {
    const std::string write = "write " + characters, reply = "read " + std::to_string(read);
    return read == 0 ? Events{kOpen, "write AA", write, "close"}
                     : Events{kOpen, "write AA", "sleep 1", write, reply, "close"};
}

// The cradle ID and the raw text: two openings, 1 ms apart.
Events TwoOpenings(const std::string& lead, const std::string& frame) {
    return {kOpen, "write " + lead, "close", "sleep 1", kOpen, "write " + frame, "close"};
}

TEST_F(MaintenanceFramesTest, EachCommandSendsItsExactFramesAt9600OrIsRefusedBeforeAnyPort) {
    // `handler` after `text` was put into `member`.
    const auto with = [](std::string UpdaterState::*member, std::string text, Handler handler) {
        return [=](Dlg& dlg) {
            dlg.*member = text;
            handler(dlg);
        };
    };
    const auto cradle = &UpdaterState::m_strCradleId, raw = &UpdaterState::m_strRawCmd,
               cmd4 = &UpdaterState::m_strCmd4;
    const auto failed = UpdateOutcome::Failed;
    const std::string idLength = "Cradle ID must be 12 digits!", length = "Command Length error!",
                      tooLong = "The raw text is longer than 254 characters; nothing was sent.";
    const Events cr02 = Command("43 52 30 32", 16);
    struct Case {
        Handler handler;
        Events sent;
        std::string reply = {};
        std::string box = {};  // a reply is accepted exactly when it is shown
        UpdateOutcome outcome = UpdateOutcome::Succeeded;
        int port = 2;  // 0: "USB Port", which names no serial port
    };
    m_view.Type([](DialogData& c) { c.m_strCommand = "KE9"; });
    const std::vector<Case> cases = {
        {[](Dlg& dlg) { EXPECT_TRUE(dlg.OnCommand(kIdReset)); }, Command("2D 2D 2D 2D")},
        {[](Dlg& dlg) { EXPECT_TRUE(dlg.OnCommand(kIdResetCommand)); }, Command("2D 2D 2D 2D")},
        {&Dlg::OnCmdKe99, Command("4B 45 39 39")},
        {&Dlg::OnCmdKe01, Command("4B 45 30 31")},
        {&Dlg::OnCmdKe97, Command("4B 45 39 37")},
        {&Dlg::OnCmdDash02, Command("2D 2D 30 32")},
        {&Dlg::OnVersion, Command("25 2F 25 2F", 100), "LDR 2\0x"s, "LDR 2"},
        {&Dlg::OnCmdQuery, Command("2F 25 2F 25", 100), "q", "q"},
        {&Dlg::OnSetUndiscover, Command("43 52 30 31", 1), "\x06", "Set undiscover Successfully"},
        {&Dlg::OnSetUndiscover, Command("43 52 30 31", 1), "\x15", "", failed},
        {&Dlg::OnCmdCr02, cr02, "C\x01\x02\x0A\xFF\0\t\t\t\t\t\t\t\t\tR"s,
         "P0=01,P1=02,P2=0A,P3=FF,P4=00"},
        {&Dlg::OnCmdCr02, cr02, "C\x01\x02\x03\x04\x05\0\0\0\0\0\0\0\0R"s, "", failed},
        {&Dlg::OnCmdCr02, cr02, "C\x01\x02\x03\x04\x05\0\0\0\0\0\0\0\0\0X"s, "", failed},
        {&Dlg::OnCmdCr02, cr02, "X\x01\x02\x03\x04\x05\0\0\0\0\0\0\0\0\0R"s, "", failed},
        {with(cmd4, "AB/%", &Dlg::OnCmdText), Command("41 42 2F 25")},
        {with(raw, "", &Dlg::OnCmdRaw), TwoOpenings("B5", "44 4E")},
        {with(raw, std::string(254, 'x'), &Dlg::OnCmdRaw),  // the longest that is sent
         TwoOpenings("B5", "44 " + sim::HexBytes(std::vector<std::uint8_t>(254, 'x')) + " 4E")},
        {with(cradle, "ABCDEF01234", &Dlg::OnSetCradleId), {}, "", idLength, failed},
        {with(cradle, "ABCDEF0123456", &Dlg::OnSetCradleId), {}, "", idLength, failed},
        {with(cmd4, "", &Dlg::OnCmdText), {}, "", length, failed},  // as the window has it
        {&Dlg::OnSendCommand, {}, "", length, failed},              // "KE9"
        {with(raw, std::string(255, 'x'), &Dlg::OnCmdRaw), {}, "", tooLong, failed},
        {&Dlg::OnReset, {}, "", "Serial Port is unavaible!", failed, 0},
        // 1029 sends the cradle ID and nothing else: no version query follows it.
        {with(cradle, "abcdef012345", [](Dlg& dlg) { EXPECT_TRUE(dlg.OnCommand(kIdSetCradleId)); }),
         TwoOpenings("A7", "42 41 42 43 44 45 46 30 31 32 33 34 35 54")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.sent) + " " + c.box);
        m_view.Type([&](DialogData& data) { data.m_nPort = c.port; });
        m_reply = c.reply;
        const std::size_t sent = Line().size(), shown = m_view.Boxes().size();
        c.handler(m_dlg);
        const Events line = Line(), boxes = m_view.Boxes();
        EXPECT_EQ(Events(line.begin() + static_cast<std::ptrdiff_t>(sent), line.end()), c.sent);
        EXPECT_EQ(Events(boxes.begin() + static_cast<std::ptrdiff_t>(shown), boxes.end()),
                  c.box.empty() ? Events{} : Events{"box tarvik-updater: " + c.box});
        EXPECT_EQ(m_dlg.LastOutcome(), c.outcome);
        EXPECT_EQ(m_dlg.m_nBaud, 0);
    }
    EXPECT_EQ(m_dlg.m_strCradleId, "ABCDEF012345");  // in capitals, as it was sent
}

// Against the loader behind a pseudo-terminal, or the one inside the process (Windows).
using MaintenanceRoadTest = test::RoadTest;

TEST_F(MaintenanceRoadTest, MissingAndWrongRepliesAreToldOrIgnoredAsTheyAre) {
    sim::SerialLoaderOptions options;
    options.maintenanceReplies["%/%/"] = {};
    options.maintenanceReplies["CR01"] = {0x15};
    Start(options, 20);
    m_dlg->OnVersion();
    m_dlg->OnSetUndiscover();
    EXPECT_EQ(m_view->Boxes(), Events{"box Fail: Timeout fail!"});
    EXPECT_EQ(m_dlg->LastOutcome(), UpdateOutcome::Failed);
    EXPECT_FALSE(m_dlg->Port());
}

TEST_F(MaintenanceRoadTest, ACommandDuringAnUpdateIsRefusedAndTouchesNothing) {
    for (const bool found : {false, true}) {
        SCOPED_TRACE(found ? "stopped just after the device answered" : "while searching");
        sim::SerialLoaderOptions options;
        options.answerSearch = found;
        Start(options, 20);
        ChooseImage(100);
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
        EXPECT_EQ(m_view->Boxes(), Events(found ? 1 : 2,
                                          "box tarvik-updater: A firmware update is running; the "
                                          "command was not sent."));
        EXPECT_EQ(m_sim->MaintenanceFrames(), Events{});
        EXPECT_EQ(m_dlg->LastOutcome(), UpdateOutcome::Cancelled);
    }
}

}  // namespace
}  // namespace tarvik
