// What the serial road's end-to-end tests cannot see of the simulated loader: what it refuses
// and reports, its scripted faults, and its line's quiet and stop.
#include <filesystem>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "maint/MaintenanceFrames.h"
#include "serial/PosixSerialPort.h"
#include "sim/HexText.h"
#include "sim/MaintenanceProtocol.h"
#include "sim/SerialLoaderProtocol.h"
#include "sim/SerialLoaderSim.h"

namespace tarvik::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Texts = std::vector<std::string>;
using Span = std::span<const std::uint8_t>;

const Bytes kClear(serial::kClear.begin(), serial::kClear.end());
const Bytes kFlash(serial::kFlash.begin(), serial::kFlash.end());
const Bytes kReboot(serial::kReboot.begin(), serial::kReboot.end());

// A frame of zeros, whose checksum is the page's low byte; `skew` puts it off.
Bytes Block(std::uint16_t page, int skew = 0) {
    static const std::array<std::uint8_t, kBlockSize> zeros{};
    return serial::BlockFrame({0, zeros.data(), page, static_cast<std::uint8_t>(page + skew)});
}

// A three-block download, indexed by the loader's step number.
const std::vector<Bytes> kSteps = {kClear,    kFlash, Block(8), kFlash,
                                   Block(16), kFlash, Block(0), kReboot};

// Both protocols on lists instead of a line, each byte offered to the maintenance frames
// first as the simulator does: what they logged, reported and took, and what the loader did.
struct Loader final : SerialLoaderProtocol::Host, MaintenanceProtocol::Host {
    explicit Loader(std::map<int, Fault> faults = {}, std::map<std::string, Bytes> replies = {})
        : protocol(*this, true, std::move(faults)), maintenance(*this, std::move(replies)) {}
    void Feed(const Bytes& bytes, std::uint32_t baud = serial::kDownloadBaud) {
        for (const std::uint8_t byte : bytes) {
            if (!maintenance.Take(byte, baud, protocol.Downloading())) {
                protocol.Take(byte, baud);
            }
        }
    }
    // Wakes the loader and feeds it the first `steps` messages of the download.
    void Wake(std::size_t steps = 0) {
        Feed({serial::kWakeByte}, serial::kWakeBaud);
        for (std::size_t i = 0; i < steps; ++i) {
            Feed(kSteps[i]);
        }
    }

    void Settle() override {}
    void Log(std::string entry) override { log.push_back(std::move(entry)); }
    void Error(std::string text) override { errors.push_back(std::move(text)); }
    void Frame(std::string entry) override { frames.push_back(std::move(entry)); }
    void Erase() override { pages.clear(); }
    void Record(std::uint16_t page, Span) override {
        pages.push_back(page);
        did.push_back("keep " + PageText(page));
    }
    void Reboot() override {}
    bool Wait(Clock::Duration delay) override {
        did.push_back("wait " + std::to_string(delay.count()));
        return true;
    }
    void HoldLine() override { did.push_back("hold"); }
    void Send(Span bytes) override { did.push_back("send " + HexBytes(bytes)); }

    SerialLoaderProtocol protocol;
    MaintenanceProtocol maintenance;
    Texts log, errors, frames, did;
    std::vector<std::uint16_t> pages;
};

TEST(SerialLoaderProtocol, NothingIsAnsweredBeforeTheWakeNorAtAWrongRate) {
    Loader loader;
    loader.Feed({serial::kSearchByte});
    loader.Feed({serial::kSearchByte, serial::kWakeByte, serial::kSearchByte}, serial::kWakeBaud);
    loader.Feed(kClear, 57600);  // not held either, or the clear below would go unrecognised
    loader.Feed({serial::kSearchByte, 'U', 'C', 'L', 'R', 'U'});
    EXPECT_EQ(loader.did, (Texts{"send 5A", "send 55 35 55"}));
    EXPECT_EQ(loader.log,
              (Texts{"unexpected 0xA5@115200", "unexpected 0xA5@9600", "wake@9600", "search@9600",
                     "unexpected 0x55@57600", "unexpected 0x43@57600", "unexpected 0x4C@57600",
                     "unexpected 0x52@57600", "unexpected 0x55@57600", "search@115200", "UCLRU"}));
    EXPECT_EQ(loader.errors, (Texts{"search byte at 9600 baud", "0x55 at 57600 baud"}));
}

TEST(SerialLoaderProtocol, ViolationsAreReportedNeitherAnsweredNorKeptAndARetryGoesOn) {
    // Steps of a good download, the message, the one error it must cause, and the step the
    // tool's retry starts from (0: a new wake).
    const std::vector<std::tuple<std::size_t, Bytes, std::string, std::size_t>> cases = {
        {2, Block(8, 1), "frame 0x0008: checksum 0x09, expected 0x08", 1},
        {2, Block(16), "frame 0x0010 out of order: expected page 0x0008 or 0x0000", 1},
        {3, {'U', 'F', 'L', 'H', 0x00}, "expected UFLHU, got 55 46 4C 48 00", 3},
        {3, {'U', 'F'}, "expected UFLHU, got 55 46", 3},
        {4, Bytes(kSteps[4].begin(), kSteps[4].begin() + 100),
         "frame 0x0010 cut short: 100 of 2051 bytes", 3},
        {3, kReboot, "URBTU before page 0 was flashed", 0},
        {kSteps.size(), {0x00, 0x00}, "0x00 after the reboot", 0},
    };
    for (const auto& [after, message, error, retry] : cases) {
        SCOPED_TRACE(error);
        Loader loader;
        loader.Wake(after);
        const Texts did = loader.did;
        loader.Feed(message);
        loader.protocol.CutShort();  // as the line's quiet would, for a message left unfinished
        EXPECT_FALSE(loader.protocol.Holding());
        EXPECT_EQ(loader.did, did);
        if (retry == 0) {
            loader.Wake();
        }
        for (std::size_t i = retry; i < kSteps.size(); ++i) {
            loader.Feed(kSteps[i]);
        }
        EXPECT_EQ(loader.errors, Texts{error});
        EXPECT_EQ(loader.pages, (std::vector<std::uint16_t>{8, 16, 0}));
    }
}

TEST(SerialLoaderProtocol, EachScriptedFaultFiresAtItsStepAndOnlyOnce) {
    // What the loader does for the first frame: kept before answered, held before answered.
    const std::vector<std::pair<Fault, Texts>> cases = {
        {{FaultKind::Silence, {}, {}}, {}},
        {{FaultKind::WrongReply, {'N'}, {}}, {"send 4E"}},
        {{FaultKind::StrayBytes, {'x'}, {}}, {"keep 0x0008", "send 55 35 55 78"}},
        {{FaultKind::LateAck, {}, 4600ms}, {"wait 4600", "keep 0x0008", "send 55 35 55"}},
        {{FaultKind::StallLine, {}, {}}, {"hold", "keep 0x0008", "send 55 35 55"}},
    };
    for (auto [fault, did] : cases) {
        SCOPED_TRACE(did.empty() ? "silence" : did[0]);
        Loader loader({{2, fault}});
        loader.Wake(2);
        loader.did.clear();
        loader.Feed(kSteps[2]);
        loader.Wake(3);  // a new download, where the fault is spent
        did.insert(did.end(), {"send 55 35 55", "send 55 35 55", "keep 0x0008", "send 55 35 55"});
        EXPECT_EQ(loader.did, did);
    }
}

TEST(MaintenanceProtocol, AnswersAsScriptedAndReportsAFrameAtAWrongRateOrAByteOfNone) {
    Loader loader({}, {{"CR01", {0x15}}});
    const std::string command{static_cast<char>(maint::kCommandLead)};
    const std::string raw{static_cast<char>(maint::kRawLead)};
    // Each text as one write, the line pausing after it.
    const auto write = [&](const std::string& text, std::uint32_t baud = serial::kWakeBaud) {
        loader.Feed(Bytes(text.begin(), text.end()), baud);
        loader.maintenance.Pause();
    };
    write(command + "CR01", serial::kDownloadBaud);  // neither taken nor answered
    write(command + "KE99" + command + "CR01");      // KE99 has no answer
    write(raw + "DNaNN");                            // only the pause ends a raw text
    write(raw + "DN");
    write("?");
    EXPECT_EQ(loader.did, Texts{"send 15"});
    EXPECT_EQ(loader.frames, (Texts{"command KE99", "command CR01", "raw lead", "raw NaN",
                                    "raw lead", "raw ", "unexpected 0x3F"}));
    EXPECT_EQ(loader.errors, Texts{"maintenance frame at 115200 baud"});
}

TEST(SerialLoaderSim, ReportsAQuietHalfFrameAndStopsWithOneOutstandingLeavingNoDescriptor) {
    const auto descriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    };
    const auto before = descriptors();
    auto sim = std::make_unique<SerialLoaderSim>();
    const ScaledClock slow(0.1);  // time-outs ten times the tool's, for a busy machine
    PosixSerialPortOpener opener(slow);
    // What arrives until `n` bytes have come or the port's time-out has passed.
    const auto read = [](SerialPort& port, std::size_t n) {
        Bytes bytes(n);
        bytes.resize(port.Read(bytes).value_or(0));
        return bytes;
    };
    {
        const auto wake = opener.Open(sim->DevicePath(), serial::kWakeBaud).port;
        ASSERT_TRUE(wake && wake->Write(Bytes{serial::kWakeByte}));
    }
    ASSERT_TRUE(sim->WaitForLog("wake@9600"));
    auto port = opener.Open(sim->DevicePath(), serial::kDownloadBaud).port;
    const Bytes half(kSteps[2].begin(), kSteps[2].begin() + 1000);
    ASSERT_TRUE(port && port->Write(kClear) && port->Write(kFlash) && port->Write(half));
    EXPECT_EQ(read(*port, 6), Bytes({'U', '5', 'U', 'U', '5', 'U'}));
    for (int i = 0; i < 2000 && sim->Errors().empty(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(sim->Errors(), Texts{"frame 0x0008 cut short: 1000 of 2051 bytes"});
    ASSERT_TRUE(port->Write(kFlash) && port->Write(half));  // outstanding as the loader goes
    EXPECT_EQ(read(*port, 3), Bytes({'U', '5', 'U'}));
    auto gone = std::async(std::launch::async, [&] { sim.reset(); });
    EXPECT_EQ(gone.wait_for(10s), std::future_status::ready);
    port.reset();
    EXPECT_EQ(descriptors(), before);
}

}  // namespace
}  // namespace tarvik::sim
