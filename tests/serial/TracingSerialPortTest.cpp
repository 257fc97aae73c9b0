#include "serial/TracingSerialPort.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <numeric>
#include <regex>
#include <thread>
#include <vector>

#include "support/TempDir.h"
#include "support/TraceLines.h"

namespace tarvik {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

class WireTraceTest : public ::testing::Test {
protected:
    // Closes the trace and reads its lines without time stamps.
    Lines Finish() {
        m_trace.reset();
        return test::TraceLines(m_dir.Path() / "wire.log");
    }

    test::TempDir m_dir;
    std::optional<WireTrace> m_trace{std::in_place, (m_dir.Path() / "wire.log").string()};
};

TEST_F(WireTraceTest, LinesAreUpperCaseHexEndedByATurnANoteAPauseOrThirtyTwoBytes) {
    Bytes run(33);
    std::iota(run.begin(), run.end(), 0xE0);
    m_trace->Transmit(Bytes{0xA5, 0x0A, 0xff, 0x00});
    m_trace->Receive(Bytes{0x5A});
    m_trace->Transmit(Bytes{'U', 'C'});
    m_trace->Note("open /dev/pts/1 9600");
    m_trace->Transmit(run);
    m_trace->Receive(Bytes{'U', '5'});
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    m_trace->Receive(Bytes{'U'});
    EXPECT_EQ(Finish(), (Lines{"tx A5 0A FF 00", "rx 5A", "tx 55 43", "open /dev/pts/1 9600",
                               "tx E0 E1 E2 E3 E4 E5 E6 E7 E8 E9 EA EB EC ED EE EF F0 F1 F2 F3 "
                               "F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF",
                               "tx 00", "rx 55 35", "rx 55"}));
}

TEST_F(WireTraceTest, ThreadsTracingAtOnceKeepEveryLineWholeAndEveryByte) {
    const auto trace = [this](bool transmit) {
        for (int i = 0; i < 200; ++i) {
            transmit ? m_trace->Transmit(Bytes{0xA0, 0xA0}) : m_trace->Receive(Bytes{0xA1, 0xA1});
        }
    };
    {
        std::jthread transmitter(trace, true);
        trace(false);
    }
    std::size_t bytes = 0;
    for (const auto& line : Finish()) {
        ASSERT_TRUE(std::regex_match(line, std::regex("tx( A0){1,32}|rx( A1){1,32}"))) << line;
        bytes += line.size() / 3;
    }
    EXPECT_EQ(bytes, 2 * 200 * 2u);
}

// Reads fill the whole buffer but report the scripted count (nothing: a failed read).
struct FakePort : SerialPort {
    std::optional<std::size_t> Read(std::span<std::uint8_t> buf) override {
        std::fill(buf.begin(), buf.end(), 0x5A);
        return reads.at(next++);
    }
    bool Write(std::span<const std::uint8_t> data) override {
        written.insert(written.end(), data.begin(), data.end());
        return true;
    }
    void Purge() override {}
    void Close() override { ++closes; }
    bool IsOpen() const override { return closes == 0; }

    std::vector<std::optional<std::size_t>> reads;
    std::size_t next = 0;
    Bytes written;
    int closes = 0;
};

// Opens the fake port, or fails as told, under a tracing opener.
class TracingSerialPortTest : public WireTraceTest, public SerialPortOpener {
protected:
    SerialOpenResult Open(const std::filesystem::path&, std::uint32_t) override {
        return {m_failure.error != 0 ? nullptr : m_port, m_failure};
    }

    std::shared_ptr<FakePort> m_port = std::make_shared<FakePort>();
    SerialOpenError m_failure;
    TracingSerialPortOpener m_opener{*this, *m_trace};
};

TEST_F(TracingSerialPortTest, TracesEachOpenEachWriteOnlyBytesReadAndOneClose) {
    m_failure = {ENOENT, "No such file or directory", {}};
    const auto failed = m_opener.Open("/dev/ttyUSB4", 9600);
    EXPECT_EQ(failed.error.reason, "No such file or directory");
    m_failure = {};
    m_port->reads = {2, std::nullopt, 0};
    auto port = m_opener.Open("/dev/pts/9", 115200).port;
    ASSERT_TRUE(port);
    EXPECT_TRUE(port->Write(Bytes{0xA5}));
    Bytes buf(8);
    EXPECT_EQ((std::vector{port->Read(buf), port->Read(buf), port->Read(buf)}),
              (std::vector<std::optional<std::size_t>>{2, std::nullopt, 0}));
    port->Close();
    port.reset();  // closes again
    EXPECT_EQ(m_port->written, Bytes{0xA5});
    EXPECT_GE(m_port->closes, 1);
    EXPECT_EQ(Finish(), (Lines{"open /dev/ttyUSB4 9600 failed: No such file or directory",
                               "open /dev/pts/9 115200", "tx A5", "rx 5A 5A", "close /dev/pts/9"}));
}

}  // namespace
}  // namespace tarvik
