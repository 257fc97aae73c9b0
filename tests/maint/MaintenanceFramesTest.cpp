// Each maintenance command's frames exactly as they leave: the rate of each opening, every
// write request's bytes, the 1 ms pause, the reads, the close, and what the operator sees.
#include <gtest/gtest.h>

#include <deque>
#include <mutex>

#include "app/UpdaterDlg.h"
#include "support/RecordingView.h"

namespace tarvik {
namespace {

using Events = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (const std::uint8_t b : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, text.empty() ? "%02X" : " %02X", b);
        text += hex;
    }
    return text;
}

// One log for the port and the clock, so their order shows.
struct Wire {
    std::mutex lock;
    Events log;
    std::deque<Bytes> replies;  // what each read returns, in turn; none: nothing arrives

    void Add(std::string entry) {
        std::lock_guard guard(lock);
        log.push_back(std::move(entry));
    }
};

class RecordingPort : public SerialPort {
public:
    explicit RecordingPort(Wire& wire) : m_wire(wire) {}
    std::optional<std::size_t> Read(std::span<std::uint8_t> buf) override {
        std::lock_guard guard(m_wire.lock);
        m_wire.log.push_back("read " + std::to_string(buf.size()));
        if (m_wire.replies.empty()) {
            return 0;
        }
        const Bytes reply = m_wire.replies.front();
        m_wire.replies.pop_front();
        std::copy(reply.begin(), reply.end(), buf.begin());
        return reply.size();
    }
    bool Write(std::span<const std::uint8_t> data) override {
        m_wire.Add("write " + Hex(data));
        return true;
    }
    void Purge() override {}
    void Close() override {
        if (m_open) {
            m_open = false;
            m_wire.Add("close");
        }
    }
    bool IsOpen() const override { return m_open; }

private:
    Wire& m_wire;
    bool m_open = true;
};

class RecordingOpener : public SerialPortOpener {
public:
    explicit RecordingOpener(Wire& wire) : m_wire(wire) {}
    SerialOpenResult Open(const std::filesystem::path& device, std::uint32_t baud) override {
        m_wire.Add("open " + device.string() + " " + std::to_string(baud));
        return {std::make_shared<RecordingPort>(m_wire), {}};
    }

private:
    Wire& m_wire;
};

// Real time, with every sleep written into the wire's log.
class RecordingClock : public Clock {
public:
    explicit RecordingClock(Wire& wire) : m_wire(wire) {}
    TimePoint Now() const override { return m_real.Now(); }
    void SleepFor(Duration d) const override { m_wire.Add("sleep " + std::to_string(d.count())); }
    void SleepUntil(TimePoint) const override {}
    std::chrono::microseconds RealDuration(Duration d) const override { return d; }

private:
    Wire& m_wire;
    SteadyClock m_real;
};

class MaintenanceFramesTest : public ::testing::Test {
protected:
    MaintenanceFramesTest() {
        m_ports.Override(2, "/dev/sim-com2");
        m_dlg.OnInitDialog();
        m_view.Type([](DialogData& c) { c.m_nPort = 2; });
    }

    Events Run(void (CUpdaterDlg::*handler)()) {
        m_wire.log.clear();
        (m_dlg.*handler)();
        return m_wire.log;
    }

    Wire m_wire;
    RecordingClock m_clock{m_wire};
    RecordingOpener m_opener{m_wire};
    PortNames m_ports{[](const std::string&) { return std::optional<std::string>(); }};
    test::RecordingView m_view;
    CUpdaterDlg m_dlg{m_view, m_clock, "tarvik-updater", {&m_opener, &m_ports, nullptr}};
};

TEST_F(MaintenanceFramesTest, CommandsWithoutAReplyAreTwoWritesAt9600AndAClose) {
    const std::vector<std::pair<void (CUpdaterDlg::*)(), const char*>> commands = {
        {&CUpdaterDlg::OnReset, "2D 2D 2D 2D"},     {&CUpdaterDlg::OnCmdKe99, "4B 45 39 39"},
        {&CUpdaterDlg::OnCmdKe01, "4B 45 30 31"},   {&CUpdaterDlg::OnCmdKe97, "4B 45 39 37"},
        {&CUpdaterDlg::OnCmdDash02, "2D 2D 30 32"},
    };
    for (const auto& [handler, characters] : commands) {
        SCOPED_TRACE(characters);
        EXPECT_EQ(Run(handler), (Events{"open /dev/sim-com2 9600", "write AA",
                                        std::string("write ") + characters, "close"}));
        EXPECT_EQ(m_dlg.m_nBaud, 0);
        EXPECT_EQ(m_dlg.LastOutcome(), UpdateOutcome::Succeeded);
    }
    EXPECT_EQ(m_view.Boxes(), Events{});
}

TEST_F(MaintenanceFramesTest, CommandsWithAReplyPauseOneMillisecondReadAndShowIt) {
    m_wire.replies = {Bytes{'L', 'D', 'R', ' ', '2', 0, 'x'}};
    EXPECT_EQ(Run(&CUpdaterDlg::OnVersion),
              (Events{"open /dev/sim-com2 9600", "write AA", "sleep 1", "write 25 2F 25 2F",
                      "read 100", "close"}));
    m_wire.replies = {Bytes{0x06}};
    EXPECT_EQ(Run(&CUpdaterDlg::OnSetUndiscover)[4], "read 1");
    m_wire.replies = {Bytes{'C', 0x01, 0x02, 0x0A, 0xFF, 0x00, 9, 9, 9, 9, 9, 9, 9, 9, 9, 'R'}};
    EXPECT_EQ(Run(&CUpdaterDlg::OnCmdCr02)[3], "write 43 52 30 32");
    m_wire.replies = {Bytes{'q'}};
    EXPECT_EQ(Run(&CUpdaterDlg::OnCmdQuery)[3], "write 2F 25 2F 25");
    EXPECT_EQ(
        m_view.Boxes(),
        (Events{"box tarvik-updater: LDR 2", "box tarvik-updater: Set undiscover Successfully",
                "box tarvik-updater: P0=01,P1=02,P2=0A,P3=FF,P4=00", "box tarvik-updater: q"}));
}

TEST_F(MaintenanceFramesTest, RepliesThatAreNotAcceptedShowNothingAndFail) {
    const std::vector<std::pair<void (CUpdaterDlg::*)(), Bytes>> rejected = {
        {&CUpdaterDlg::OnSetUndiscover, {0x15}},
        {&CUpdaterDlg::OnCmdCr02, {'C', 1, 2, 3, 4, 5, 0, 0, 0, 0, 0, 0, 0, 0, 'R'}},  // 15
        {&CUpdaterDlg::OnCmdCr02, {'C', 1, 2, 3, 4, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'X'}},
    };
    for (const auto& [handler, reply] : rejected) {
        m_wire.replies = {reply};
        Run(handler);
        EXPECT_EQ(m_dlg.LastOutcome(), UpdateOutcome::Failed);
    }
    EXPECT_EQ(m_view.Boxes(), Events{});
}

TEST_F(MaintenanceFramesTest, CradleIdAndRawTextAreTwoOpeningsWithAPauseBetween) {
    m_dlg.m_strCradleId = "abcdef012345";
    EXPECT_EQ(Run(&CUpdaterDlg::OnSetCradleId),
              (Events{"open /dev/sim-com2 9600", "write A7", "close", "sleep 1",
                      "open /dev/sim-com2 9600", "write 42 41 42 43 44 45 46 30 31 32 33 34 35 54",
                      "close"}));
    EXPECT_EQ(m_dlg.m_strCradleId, "ABCDEF012345");
    m_dlg.m_strRawCmd = "";
    EXPECT_EQ(Run(&CUpdaterDlg::OnCmdRaw),
              (Events{"open /dev/sim-com2 9600", "write B5", "close", "sleep 1",
                      "open /dev/sim-com2 9600", "write 44 4E", "close"}));
    EXPECT_EQ(m_dlg.m_nBaud, 0);
}

TEST_F(MaintenanceFramesTest, WrongLengthsAreRefusedBeforeAnyPortIsTouched) {
    m_dlg.m_strCradleId = "ABCDEF01234";  // 11
    EXPECT_EQ(Run(&CUpdaterDlg::OnSetCradleId), Events{});
    m_dlg.m_strCradleId = "ABCDEF0123456";  // 13
    EXPECT_EQ(Run(&CUpdaterDlg::OnSetCradleId), Events{});
    EXPECT_EQ(Run(&CUpdaterDlg::OnCmdText), Events{});  // empty, as the window leaves it
    m_view.Type([](DialogData& c) { c.m_strCommand = "KE9"; });
    EXPECT_EQ(Run(&CUpdaterDlg::OnSendCommand), Events{});
    m_dlg.m_strRawCmd = std::string(255, 'x');
    EXPECT_EQ(Run(&CUpdaterDlg::OnCmdRaw), Events{});
    EXPECT_EQ(m_view.Boxes(), (Events{"box tarvik-updater: Cradle ID must be 12 digits!",
                                      "box tarvik-updater: Cradle ID must be 12 digits!",
                                      "box tarvik-updater: Command Length error!",
                                      "box tarvik-updater: Command Length error!",
                                      "box tarvik-updater: The raw text is longer than 254 "
                                      "characters; nothing was sent."}));
    m_dlg.m_strCmd4 = "AB/%";
    EXPECT_EQ(Run(&CUpdaterDlg::OnCmdText)[2], "write 41 42 2F 25");
}

TEST_F(MaintenanceFramesTest, TheMessageMapReachesEachCommandByItsIds) {
    EXPECT_TRUE(m_dlg.OnCommand(kIdReset));
    EXPECT_TRUE(m_dlg.OnCommand(kIdResetCommand));
    EXPECT_EQ(m_wire.log,
              (Events{"open /dev/sim-com2 9600", "write AA", "write 2D 2D 2D 2D", "close",
                      "open /dev/sim-com2 9600", "write AA", "write 2D 2D 2D 2D", "close"}));
    // 1029 sends the cradle ID and nothing else: no version query follows it.
    m_dlg.m_strCradleId = "ABCDEF012345";
    EXPECT_EQ(Run(&CUpdaterDlg::OnSetCradleId).size(), 7u);
    m_wire.log.clear();
    EXPECT_TRUE(m_dlg.OnCommand(kIdSetCradleId));
    EXPECT_EQ(m_wire.log.size(), 7u);
}

TEST_F(MaintenanceFramesTest, UsbPortNamesNoSerialPortAndNothingIsSent) {
    m_view.Type([](DialogData& c) { c.m_nPort = 0; });
    EXPECT_EQ(Run(&CUpdaterDlg::OnReset), Events{});
    EXPECT_EQ(m_view.Boxes(), Events{"box tarvik-updater: Serial Port is unavaible!"});
    EXPECT_EQ(m_dlg.m_nBaud, 0);
}

}  // namespace
}  // namespace tarvik
