// The maintenance commands: each one's frames exactly as they leave (the rate of each
// opening, every write request's bytes, the 1 ms pause, the reads, the close) and what the
// operator sees; then over a pseudo-terminal to the simulated loader: a reply that never
// comes, a held line, and the refusal while an update holds the port.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <functional>

#include "serial/RoadTest.h"

namespace tarvik {
namespace {

using namespace std::string_literals;
using Events = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;
using Handler = std::function<void(CUpdaterDlg&)>;

const std::string kRefused =
    "box tarvik-updater: A firmware update is running; the command was not sent.";

PortNames NoEnvironment() {
    return PortNames([](const std::string&) { return std::optional<std::string>(); });
}

// Ports whose every opening, write request, read (its size) and close goes onto the calling
// thread's time line, between its sleeps.
class WirePorts : public SerialPortOpener {
public:
    explicit WirePorts(const test::TimelineClock& line) : m_line(line) {}
    SerialOpenResult Open(const std::filesystem::path& device, std::uint32_t baud) override {
        m_line.Note("open " + device.string() + " " + std::to_string(baud));
        return {std::make_shared<Port>(*this), {}};
    }

    std::string reply;  // what the next read brings; then nothing

private:
    struct Port : SerialPort {
        explicit Port(WirePorts& wire) : wire(wire) {}
        std::optional<std::size_t> Read(std::span<std::uint8_t> buf) override {
            wire.m_line.Note("read " + std::to_string(buf.size()));
            const std::string reply = std::exchange(wire.reply, "");
            std::copy(reply.begin(), reply.end(), buf.begin());
            return reply.size();
        }
        bool Write(std::span<const std::uint8_t> data) override {
            std::string text = "write";
            for (const std::uint8_t b : data) {
                char hex[4];
                std::snprintf(hex, sizeof hex, " %02X", b);
                text += hex;
            }
            wire.m_line.Note(text);
            return true;
        }
        void Purge() override {}
        void Close() override {
            if (std::exchange(open, false)) {
                wire.m_line.Note("close");
            }
        }
        bool IsOpen() const override { return open; }

        WirePorts& wire;
        bool open = true;
    };

    const test::TimelineClock& m_line;
};

class MaintenanceFramesTest : public ::testing::Test {
protected:
    MaintenanceFramesTest() {
        m_ports.Override(2, "/dev/sim-com2");
        m_dlg.OnInitDialog();
        m_view.Type([](DialogData& c) { c.m_nPort = 2; });
    }

    // What `handler` sent, slept and read, in order.
    Events Run(Handler handler) {
        const std::size_t before = Line().size();
        handler(m_dlg);
        const Events line = Line();
        return Events(line.begin() + static_cast<std::ptrdiff_t>(before), line.end());
    }
    Events Line() const {
        const auto lanes = m_timeline.Lanes();
        return lanes.empty() ? Events{} : lanes.front();
    }

    test::TimelineClock m_timeline{RealClock()};
    WirePorts m_wire{m_timeline};
    PortNames m_ports = NoEnvironment();
    test::RecordingView m_view;
    CUpdaterDlg m_dlg{m_view, m_timeline, "tarvik-updater", {&m_wire, &m_ports, nullptr}};
};

TEST_F(MaintenanceFramesTest, EachCommandIsTwoWritesAt9600AndARepliedOneIsReadAndShown) {
    struct Case {
        Handler handler;
        const char* characters;
        std::size_t read;  // 0: no reply is read
        std::string reply = {};
        std::string box = {};  // a reply is accepted exactly when it is shown
    };
    const std::vector<Case> cases = {
        {[](CUpdaterDlg& dlg) { EXPECT_TRUE(dlg.OnCommand(kIdReset)); }, "2D 2D 2D 2D", 0},
        {[](CUpdaterDlg& dlg) { EXPECT_TRUE(dlg.OnCommand(kIdResetCommand)); }, "2D 2D 2D 2D", 0},
        {&CUpdaterDlg::OnCmdKe99, "4B 45 39 39", 0},
        {&CUpdaterDlg::OnCmdKe01, "4B 45 30 31", 0},
        {&CUpdaterDlg::OnCmdKe97, "4B 45 39 37", 0},
        {&CUpdaterDlg::OnCmdDash02, "2D 2D 30 32", 0},
        {&CUpdaterDlg::OnVersion, "25 2F 25 2F", 100, "LDR 2\0x"s, "LDR 2"},
        {&CUpdaterDlg::OnCmdQuery, "2F 25 2F 25", 100, "q", "q"},
        {&CUpdaterDlg::OnSetUndiscover, "43 52 30 31", 1, "\x06", "Set undiscover Successfully"},
        {&CUpdaterDlg::OnSetUndiscover, "43 52 30 31", 1, "\x15"},
        {&CUpdaterDlg::OnCmdCr02, "43 52 30 32", 16, "C\x01\x02\x0A\xFF\0\t\t\t\t\t\t\t\t\tR"s,
         "P0=01,P1=02,P2=0A,P3=FF,P4=00"},
        {&CUpdaterDlg::OnCmdCr02, "43 52 30 32", 16, "C\x01\x02\x03\x04\x05\0\0\0\0\0\0\0\0R"s},
        {&CUpdaterDlg::OnCmdCr02, "43 52 30 32", 16, "C\x01\x02\x03\x04\x05\0\0\0\0\0\0\0\0\0X"s},
        {&CUpdaterDlg::OnCmdCr02, "43 52 30 32", 16, "X\x01\x02\x03\x04\x05\0\0\0\0\0\0\0\0\0R"s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.characters + (" replied " + std::to_string(c.reply.size())));
        m_wire.reply = c.reply;
        const std::size_t shown = m_view.Boxes().size();
        const Events sent = Run(c.handler);
        const std::string open = "open /dev/sim-com2 9600", write = "write "s + c.characters;
        const Events expected =
            c.read == 0
                ? Events{open, "write AA", write, "close"}
                : Events{open,   "write AA", "sleep 1", write, "read " + std::to_string(c.read),
                         "close"};
        EXPECT_EQ(sent, expected);
        const Events boxes = m_view.Boxes();
        EXPECT_EQ(Events(boxes.begin() + shown, boxes.end()),
                  c.box.empty() ? Events{} : Events{"box tarvik-updater: " + c.box});
        EXPECT_EQ(m_dlg.LastOutcome(),
                  c.read == 0 || !c.box.empty() ? UpdateOutcome::Succeeded : UpdateOutcome::Failed);
        EXPECT_EQ(m_dlg.m_nBaud, 0);
    }
}

TEST_F(MaintenanceFramesTest, CradleIdAndRawTextAreTwoOpeningsWithAPauseBetween) {
    // 1029 sends the cradle ID and nothing else: no version query follows it.
    m_dlg.m_strCradleId = "abcdef012345";
    EXPECT_EQ(Run([](CUpdaterDlg& dlg) { EXPECT_TRUE(dlg.OnCommand(kIdSetCradleId)); }),
              (Events{"open /dev/sim-com2 9600", "write A7", "close", "sleep 1",
                      "open /dev/sim-com2 9600", "write 42 41 42 43 44 45 46 30 31 32 33 34 35 54",
                      "close"}));
    EXPECT_EQ(m_dlg.m_strCradleId, "ABCDEF012345");
    m_dlg.m_strRawCmd = "";
    EXPECT_EQ(Run(&CUpdaterDlg::OnCmdRaw),
              (Events{"open /dev/sim-com2 9600", "write B5", "close", "sleep 1",
                      "open /dev/sim-com2 9600", "write 44 4E", "close"}));
    m_dlg.m_strRawCmd = std::string(254, 'x');  // the longest that is sent
    EXPECT_EQ(Run(&CUpdaterDlg::OnCmdRaw).size(), 7u);
    EXPECT_EQ(m_dlg.m_nBaud, 0);
}

TEST_F(MaintenanceFramesTest, WrongLengthsAndTheUsbPortAreRefusedBeforeAnyPortIsTouched) {
    m_dlg.m_strCradleId = "ABCDEF01234";  // 11
    EXPECT_EQ(Run(&CUpdaterDlg::OnSetCradleId), Events{});
    m_dlg.m_strCradleId = "ABCDEF0123456";  // 13
    EXPECT_EQ(Run(&CUpdaterDlg::OnSetCradleId), Events{});
    EXPECT_EQ(Run(&CUpdaterDlg::OnCmdText), Events{});  // empty, as the window leaves it
    m_view.Type([](DialogData& c) { c.m_strCommand = "KE9"; });
    EXPECT_EQ(Run(&CUpdaterDlg::OnSendCommand), Events{});
    m_dlg.m_strRawCmd = std::string(255, 'x');
    EXPECT_EQ(Run(&CUpdaterDlg::OnCmdRaw), Events{});
    // "USB Port" names no serial port.
    m_view.Type([](DialogData& c) { c.m_nPort = 0; });
    EXPECT_EQ(Run(&CUpdaterDlg::OnReset), Events{});
    EXPECT_EQ(m_dlg.m_nBaud, 0);
    const std::string cradle = "box tarvik-updater: Cradle ID must be 12 digits!";
    const std::string length = "box tarvik-updater: Command Length error!";
    EXPECT_EQ(m_view.Boxes(),
              (Events{cradle, cradle, length, length,
                      "box tarvik-updater: The raw text is longer than 254 characters; nothing "
                      "was sent.",
                      "box tarvik-updater: Serial Port is unavaible!"}));
    m_view.Type([](DialogData& c) { c.m_nPort = 2; });
    m_dlg.m_strCmd4 = "AB/%";
    EXPECT_EQ(Run(&CUpdaterDlg::OnCmdText)[2], "write 41 42 2F 25");
}

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
        EXPECT_EQ(m_view->Boxes(), Events(found ? 1 : 2, kRefused));
        EXPECT_EQ(m_sim->MaintenanceFrames(), Events{});
        EXPECT_EQ(m_dlg->LastOutcome(), UpdateOutcome::Cancelled);
    }
}

TEST_F(MaintenanceRoadTest, ACommandOnAHeldLineFailsAfterItsStallLimitAndKeepsNoPort) {
    Start({}, 20);
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
