#include "serial/PosixSerialPort.h"

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
#include <future>
#include <iterator>
#include <thread>
#include <vector>

#include "serial/SerialMessages.h"
#include "sim/Pty.h"
#include "support/TempDir.h"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

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

TEST_F(PosixSerialPortTest, AFailedOpenTellsTheOperatorWhyInOneLineNamingTheDevice) {
    test::TempDir dir;
    PosixSerialPortOpener opener(RealClock());
    const auto reasonOf = [&](const std::filesystem::path& device) {
        const auto result = opener.Open(device, 115200);
        EXPECT_FALSE(result.port) << device;
        return PortOpenFailureReason(device, result.error.error);
    };
    const auto missing = dir.Path() / "ttyNone";
    EXPECT_EQ(reasonOf(missing), missing.string() + " does not exist.");

    // Root opens a file whatever its mode, and then finds no terminal in it; anyone else is
    // refused at the open.
    const auto locked = dir.Write("locked", Bytes(16));
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    EXPECT_EQ(reasonOf(locked), ::geteuid() == 0
                                    ? locked.string() + " is not a serial port."
                                    : locked.string() +
                                          ": permission denied. Serial ports belong to the dialout "
                                          "group: sudo adduser $USER dialout, then log in again.");

    auto held = Open(RealClock());
    ASSERT_TRUE(held);
    EXPECT_EQ(reasonOf(m_pty.SlavePath()),
              m_pty.SlavePath().string() + " is held by another program.");
    held->Close();
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

TEST_F(PosixSerialPortTest, BytesCloserThanThePauseJoinOneReadAndAPauseEndsIt) {
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
}

TEST_F(PosixSerialPortTest, ReadOfSilenceReturnsNothingAtTheTotalTimeOutOnThePortsClock) {
    // A hundred times faster: the 10.2 s time-out of a 1000-byte read takes about 0.1 s.
    const ScaledClock fast(100);
    auto port = Open(fast);
    ASSERT_TRUE(port);
    const auto start = fast.Now();
    const auto realStart = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadUpTo(*port, 1000), Bytes{});
    EXPECT_GE(fast.Now() - start, 10200ms);
    EXPECT_LT(std::chrono::steady_clock::now() - realStart, 5s) << "waited in real time";
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

}  // namespace
}  // namespace tarvik
