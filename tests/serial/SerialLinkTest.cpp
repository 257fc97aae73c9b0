// The serial link: where each port index lives, the POSIX port (rates, exclusivity, the read
// time-out rules, raw bytes, a close that wakes blocked calls) and the wire trace.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <iterator>
#include <numeric>
#include <regex>
#include <thread>

#include "serial/PortNames.h"
#include "serial/PosixSerialPort.h"
#include "serial/SerialMessages.h"
#include "serial/TracingSerialPort.h"
#include "sim/Pty.h"
#include "support/TempDir.h"
#include "support/TraceLines.h"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;
using Path = std::filesystem::path;

// An environment of our own, with a home folder that holds nothing unless a test puts it there.
class PortNamesTest : public ::testing::Test {
protected:
    PortNames Names() {
        return PortNames([this](const std::string& name) -> std::optional<std::string> {
            const auto it = m_environment.find(name);
            return it == m_environment.end() ? std::nullopt : std::optional(it->second);
        });
    }
    void WriteConfig(const Path& configHome, const std::string& text) {
        std::filesystem::create_directories(configHome / "tarvik");
        std::ofstream(configHome / "tarvik" / "ports.conf") << text;
    }

    test::TempDir m_dir;
    std::map<std::string, std::string> m_environment{{"HOME", m_dir.Path().string()}};
};

TEST_F(PortNamesTest, OverrideBeatsEnvironmentBeatsFileBeatsTtySAndZeroAndTenNameNothing) {
    WriteConfig(m_dir.Path() / ".config",
                "COM1=/dev/ttyUSB1\nCOM2=/dev/ttyUSB2\nCOM3=/dev/ttyUSB3\nCOM10=/dev/ttyUSB9\n");
    m_environment["TARVIK_COM2"] = "/dev/ttyACM2";
    m_environment["TARVIK_COM3"] = "/dev/ttyACM3";
    m_environment["TARVIK_COM4"] = "";
    auto names = Names();
    for (const int n : {0, 3, 10}) {
        names.Override(n, "/dev/pts/" + std::to_string(n));
    }
    EXPECT_EQ(names.Resolve(1), Path("/dev/ttyUSB1")) << "COM10 was read as COM1";
    EXPECT_EQ(names.Resolve(2), Path("/dev/ttyACM2"));
    EXPECT_EQ(names.Resolve(3), Path("/dev/pts/3"));
    EXPECT_EQ(names.Resolve(4), Path("/dev/ttyS3")) << "an empty variable counts as unset";
    EXPECT_EQ(names.Resolve(0), std::nullopt);
    EXPECT_EQ(names.Resolve(10), std::nullopt);
}

TEST_F(PortNamesTest, FileUnderXdgConfigHomeToleratesSpacesCaseCommentsAndUnreadableLines) {
    const Path xdg = m_dir.Path() / "xdg";
    m_environment["XDG_CONFIG_HOME"] = xdg.string();
    WriteConfig(m_dir.Path() / ".config", "COM4=/dev/ttyACM9\n");  // passed over
    WriteConfig(xdg,
                "# bench adapters\n\nCOM1=/dev/ttyUSB0\n  com2 =  /dev/ttyACM1   # the cradle\n"
                "\tCoM3\t=\t/dev/serial/by-id/usb-bench-if00\t\nCOM4\n=/dev/ttyUSB4\nCOM5=\n"
                "COM 6=/dev/ttyUSB6\nCOM7=ttyUSB7\n# COM8=/dev/ttyUSB8\n"
                "COM9=/dev/ttyUSB1\nCOM9=/dev/ttyUSB2\n");
    const auto names = Names();
    EXPECT_EQ(names.ConfigFile(), xdg / "tarvik" / "ports.conf");
    EXPECT_EQ(names.Resolve(1), Path("/dev/ttyUSB0"));
    EXPECT_EQ(names.Resolve(2), Path("/dev/ttyACM1"));
    EXPECT_EQ(names.Resolve(3), Path("/dev/serial/by-id/usb-bench-if00"));
    for (int n = 4; n <= 8; ++n) {
        EXPECT_EQ(names.Resolve(n), Path("/dev/ttyS" + std::to_string(n - 1))) << "COM" << n;
    }
    EXPECT_EQ(names.Resolve(9), Path("/dev/ttyUSB2")) << "the later line wins";
}

// Work on another thread; only a hang takes 20 s, and it aborts the run rather than hang it.
template <typename T>
T Await(std::future<T>& work, const char* what) {
    if (work.wait_for(20s) != std::future_status::ready) {
        std::fprintf(stderr, "%s never returned\n", what);
        std::abort();
    }
    return work.get();
}

std::optional<Bytes> ReadUpTo(SerialPort& port, std::size_t n) {
    Bytes buf(n);
    const auto got = port.Read(buf);
    return got ? std::optional(Bytes(buf.begin(), buf.begin() + *got)) : std::nullopt;
}

// n bytes from a non-blocking descriptor, fewer only when nothing comes for `quietMs`.
Bytes Receive(int fd, std::size_t n, int quietMs = 20000) {
    Bytes bytes(n);
    std::size_t got = 0;
    for (pollfd p{fd, POLLIN, 0}; got < n && ::poll(&p, 1, quietMs) == 1;) {
        got += std::max<ssize_t>(::read(fd, bytes.data() + got, n - got), 0);
    }
    bytes.resize(got);
    return bytes;
}

std::ptrdiff_t OpenDescriptors() {
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return std::distance(begin(fds), end(fds));
}

class PosixSerialPortTest : public ::testing::Test {
protected:
    std::shared_ptr<SerialPort> Open(const Clock& clock, std::uint32_t baud = 115200) {
        auto result = PosixSerialPortOpener(clock).Open(m_pty.SlavePath(), baud);
        EXPECT_TRUE(result.port) << result.error.reason;
        return result.port;
    }
    // Small enough that the terminal takes it at once.
    void Send(const Bytes& bytes) {
        ASSERT_EQ(::write(m_pty.MasterFd(), bytes.data(), bytes.size()), std::ssize(bytes));
    }

    sim::Pty m_pty;
    // A thousand times slower: only a full buffer, a failure or a close ends a read.
    const ScaledClock m_stillClock{0.001};
};

TEST_F(PosixSerialPortTest, OpenSetsEachIndexsRateFailsWithTheSystemsErrorAndHoldsThePortAlone) {
    // Neighbours differ, so a rate left over from the previous open cannot pass.
    const std::pair<int, std::uint32_t> rates[] = {{-1, 9600}, {0, 115200}, {7, 9600},
                                                   {1, 57600}, {2, 38400},  {3, 19200},
                                                   {4, 9600},  {5, 4800},   {6, 2400}};
    for (const auto& [index, rate] : rates) {
        ASSERT_TRUE(Open(RealClock(), BaudRateOfIndex(index))) << "index " << index;
        EXPECT_EQ(m_pty.SlaveBaud(), rate) << "index " << index;
    }
    test::TempDir dir;
    PosixSerialPortOpener opener(RealClock());
    EXPECT_EQ(opener.Open(dir.Path() / "ttyNone", 115200).error.error, ENOENT);
    EXPECT_EQ(opener.Open(dir.Write("firmware.bin", Bytes(16)), 115200).error.error, ENOTTY);

    const auto before = OpenDescriptors();
    auto held = Open(RealClock());
    ASSERT_TRUE(held);
    // Another opener of this same process, as a second window of the tool would be.
    const auto refused = opener.Open(m_pty.SlavePath(), 9600);
    EXPECT_FALSE(refused.port);
    EXPECT_EQ(refused.error.error, EBUSY);
    EXPECT_EQ(m_pty.SlaveBaud(), 115200u) << "the refused open changed the holder's rate";
    held->Close();
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_TRUE(opener.Open(m_pty.SlavePath(), 9600).port);
}

TEST(PortOpenFailureReason, EachSystemErrorReadsAsTheOperatorNeedsIt) {
    const std::filesystem::path tty = "/dev/ttyUSB3";
    const std::string denied =
        "/dev/ttyUSB3: permission denied. Serial ports belong to the dialout group: sudo "
        "adduser $USER dialout, then log in again.";
    const std::pair<int, std::optional<std::string>> cases[] = {
        {0, std::nullopt},
        {ENOENT, "/dev/ttyUSB3 does not exist."},
        {ENODEV, "/dev/ttyUSB3 does not exist."},
        {ENXIO, "/dev/ttyUSB3 does not exist."},
        {EACCES, denied},
        {EPERM, denied},
        {EBUSY, "/dev/ttyUSB3 is held by another program."},
        {EWOULDBLOCK, "/dev/ttyUSB3 is held by another program."},
        {ENOTTY, "/dev/ttyUSB3 is not a serial port."},
        {EIO, "/dev/ttyUSB3: Input/output error."},
        {EINVAL, "/dev/ttyUSB3: Invalid argument."},
    };
    for (const auto& [error, text] : cases) {
        EXPECT_EQ(PortOpenFailureReason(tty, error), text) << "errno " << error;
    }
}

TEST_F(PosixSerialPortTest, ReadsStopAtNAndEveryByteValuePassesBothWaysWhileBothThreadsRun) {
    // Everything a terminal can do to bytes, switched on, so the open must undo it.
    termios tio{};
    ASSERT_EQ(::tcgetattr(m_pty.MasterFd(), &tio), 0);
    tio.c_iflag |= ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | PARMRK;
    tio.c_oflag |= OPOST | ONLCR;
    tio.c_lflag |= ECHO | ICANON | ISIG | IEXTEN;
    ASSERT_EQ(::tcsetattr(m_pty.MasterFd(), TCSANOW, &tio), 0);
    auto port = Open(m_stillClock);
    ASSERT_TRUE(port);
    // Every value up and down again, so CR LF, XON XOFF, ^C and 0xFF 0x00 all meet; 4 times.
    Bytes all(4 * 512);
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i] = static_cast<std::uint8_t>(i % 512 < 256 ? i : ~i);
    }
    auto writing = std::async(std::launch::async, [&] { return port->Write(all); });
    auto reading = std::async(std::launch::async, [&] {
        std::vector<std::optional<Bytes>> reads;
        for (const std::size_t n : {512, 512, 512, 512, 1}) {
            reads.push_back(ReadUpTo(*port, n));
        }
        return reads;
    });
    Send(all);
    Send({0xEE});
    EXPECT_EQ(Receive(m_pty.MasterFd(), all.size()), all);
    EXPECT_TRUE(Await(writing, "the writer"));
    const Bytes block(all.begin(), all.begin() + 512);
    EXPECT_EQ(Await(reading, "the reader"),
              (std::vector<std::optional<Bytes>>{block, block, block, block, Bytes{0xEE}}));
    EXPECT_EQ(Receive(m_pty.MasterFd(), 1, 50), Bytes{}) << "the port echoed or added bytes";
}

TEST_F(PosixSerialPortTest, AReadEndsAtAPauseAfterItsBytesOrAtTheTotalTimeOutOnThePortsClock) {
    // Twenty times slower: a pause is 600 ms, a 16-byte read times out at 7.2 s. Bytes 100 ms
    // apart trickle in for longer than one pause of the port's time, then 2 s of silence.
    const ScaledClock slow(0.05);
    auto port = Open(slow);
    ASSERT_TRUE(port);
    const Bytes trickle = {'U', '5', 'U', 0x00, 0xFF, 6, 7, 8};
    std::thread device([&] {
        for (const std::uint8_t b : trickle) {
            Send({b});
            std::this_thread::sleep_for(100ms);
        }
        std::this_thread::sleep_for(2s);
        Send({0x5A, 0x5A});
    });
    EXPECT_EQ(ReadUpTo(*port, 16), trickle);
    EXPECT_EQ(ReadUpTo(*port, 16), (Bytes{0x5A, 0x5A}));
    device.join();
    port->Close();

    // A hundred times faster: a 1000-byte read of silence ends at 10.2 s, in about 0.1 s.
    const ScaledClock fast(100);
    port = Open(fast);
    ASSERT_TRUE(port);
    const auto start = fast.Now();
    const auto realStart = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadUpTo(*port, 1000), Bytes{});
    EXPECT_GE(fast.Now() - start, 10200ms);
    EXPECT_LT(std::chrono::steady_clock::now() - realStart, 5s) << "waited in real time";
    port.reset();  // its close drains on this clock
}

TEST_F(PosixSerialPortTest, CloseWakesBlockedCallsAndTheClosedPortNeverTouchesReusedNumbers) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair), 0);
    auto port = Open(RealClock());
    ASSERT_TRUE(port);
    // Far more than a pseudo-terminal holds while the device reads nothing, and a read that
    // waits 10.2 s for its bytes.
    const Bytes big(4 << 20, 0x55);
    auto writing = std::async(std::launch::async, [&] { return port->Write(big); });
    auto reading = std::async(std::launch::async, [&] { return ReadUpTo(*port, 1000); });
    EXPECT_EQ(Receive(m_pty.MasterFd(), 1), Bytes{0x55}) << "the write never began";
    // Most likely both are blocked in poll by now; they must fail either way.
    std::this_thread::sleep_for(100ms);
    auto closing = std::async(std::launch::async, [&] { port->Close(); });
    Await(closing, "Close of a busy port");
    EXPECT_FALSE(Await(writing, "Write during Close"));
    EXPECT_EQ(Await(reading, "Read during Close"), std::nullopt);

    // The port's numbers are the lowest free ones again, so these copies take them over.
    std::vector<int> fds = {pair[0], pair[1]};
    while (fds.size() < 10) {
        fds.push_back(::fcntl(pair[0], F_DUPFD_CLOEXEC, 0));
    }
    EXPECT_EQ(ReadUpTo(*port, 4), std::nullopt);
    EXPECT_FALSE(port->Write(Bytes{0xEE}));
    port->Purge();
    port->Close();
    EXPECT_EQ(Receive(pair[1], 1, 0), Bytes{}) << "the closed port wrote";
    for (const int fd : fds) {
        EXPECT_EQ(::close(fd), 0) << "the closed port closed " << fd;
    }
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

// A trace of its own, and an opener of the fake port (or of nothing, as told) to trace.
class WireTraceTest : public ::testing::Test, public SerialPortOpener {
protected:
    SerialOpenResult Open(const std::filesystem::path&, std::uint32_t) override {
        return {m_failure.error != 0 ? nullptr : m_port, m_failure};
    }
    // Closes the trace and reads its lines without time stamps.
    Lines Finish() {
        m_trace.reset();
        return test::TraceLines(m_dir.Path() / "wire.log");
    }

    test::TempDir m_dir;
    std::optional<WireTrace> m_trace{std::in_place, (m_dir.Path() / "wire.log").string()};
    std::shared_ptr<FakePort> m_port = std::make_shared<FakePort>();
    SerialOpenError m_failure;
    TracingSerialPortOpener m_opener{*this, *m_trace};
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

TEST_F(WireTraceTest, TheTracingPortTracesEachOpenEachWriteOnlyBytesReadAndOneClose) {
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
