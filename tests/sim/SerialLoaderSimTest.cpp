// What the serial road's end-to-end tests cannot see of the simulated loader.
#include <filesystem>
#include <future>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "maint/MaintenanceFrames.h"
#include "serial/PosixSerialPort.h"
#include "sim/SerialLoaderProtocol.h"
#include "sim/SerialLoaderSim.h"

namespace tarvik::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Texts = std::vector<std::string>;
using Span = std::span<const std::uint8_t>;

const Bytes kAck(serial::kAck.begin(), serial::kAck.end());
const Bytes kClear(serial::kClear.begin(), serial::kClear.end());
const Bytes kFlash(serial::kFlash.begin(), serial::kFlash.end());
const Bytes kReboot(serial::kReboot.begin(), serial::kReboot.end());

// A frame of zeros, whose checksum is the page's low byte; `skew` puts it off.
Bytes Frame(std::uint16_t page, int skew = 0) {
    static const std::array<std::uint8_t, kBlockSize> zeros{};
    return serial::BlockFrame({0, zeros.data(), page, static_cast<std::uint8_t>(page + skew)});
}

// A three-block download, indexed by the loader's step number.
const std::vector<Bytes> kSteps = {kClear,    kFlash, Frame(8), kFlash,
                                   Frame(16), kFlash, Frame(0), kReboot};

// The protocol on lists instead of a line: what it logged, reported, kept and answered.
struct Loader final : SerialLoaderProtocol::Host {
    explicit Loader(std::map<int, Fault> faults = {}) : protocol(*this, true, std::move(faults)) {}
    void Feed(const Bytes& bytes, std::uint32_t baud = serial::kDownloadBaud) {
        for (const std::uint8_t byte : bytes) {
            protocol.Take(byte, baud);
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
    void Erase() override { pages.clear(); }
    void Record(std::uint16_t page, Span) override { pages.push_back(page); }
    void Reboot() override {}
    bool Wait(Clock::Duration) override { return true; }
    void Send(Span bytes) override { sent.insert(sent.end(), bytes.begin(), bytes.end()); }

    SerialLoaderProtocol protocol;
    Texts log, errors;
    Bytes sent;
    std::vector<std::uint16_t> pages;
};

TEST(SerialLoaderProtocol, NothingIsAnsweredBeforeTheWakeNorAtAWrongRate) {
    Loader loader;
    loader.Feed({serial::kSearchByte});
    loader.Feed({serial::kSearchByte, serial::kWakeByte, serial::kSearchByte}, serial::kWakeBaud);
    loader.Feed(kClear, 57600);  // not held either, or the clear below would go unrecognised
    loader.Feed({serial::kSearchByte, 'U', 'C', 'L', 'R', 'U'});
    EXPECT_EQ(loader.sent, (Bytes{serial::kFoundByte, 'U', '5', 'U'}));
    EXPECT_EQ(loader.log,
              (Texts{"unexpected 0xA5@115200", "unexpected 0xA5@9600", "wake@9600", "search@9600",
                     "unexpected 0x55@57600", "unexpected 0x43@57600", "unexpected 0x4C@57600",
                     "unexpected 0x52@57600", "unexpected 0x55@57600", "search@115200", "UCLRU"}));
    EXPECT_EQ(loader.errors, (Texts{"search byte at 9600 baud", "0x55 at 57600 baud"}));
}

TEST(SerialLoaderProtocol, ViolationsAreReportedAndNotAcknowledged) {
    // Steps of a good download first, then the message, and the one error it must cause.
    const std::vector<std::tuple<std::size_t, Bytes, std::string>> cases = {
        {2, Frame(8, 1), "frame 0x0008: checksum 0x09, expected 0x08"},
        {2, Frame(16), "frame 0x0010 out of order: expected page 0x0008 or 0x0000"},
        {3, {'U', 'F', 'L', 'H', 0x00}, "expected UFLHU, got 55 46 4C 48 00"},
        {3, kReboot, "URBTU before page 0 was flashed"},
        {kSteps.size(), {0x00, 0x00}, "0x00 after the reboot"},
    };
    for (const auto& [after, message, error] : cases) {
        SCOPED_TRACE(error);
        Loader loader;
        loader.Wake(after);
        const std::size_t answered = loader.sent.size();
        const auto pages = loader.pages;
        loader.Feed(message);
        EXPECT_EQ(loader.errors, Texts{error});
        EXPECT_EQ(loader.sent.size(), answered);
        EXPECT_EQ(loader.pages, pages);
    }
}

TEST(SerialLoaderProtocol, CutShortFrameIsReportedAndANewWakeStartsAfresh) {
    Loader loader({{0, {FaultKind::Silence, {}, {}}}});  // the first clear's, and only that
    loader.Wake(4);
    loader.Feed(Bytes(kSteps[4].begin(), kSteps[4].begin() + 100));
    EXPECT_TRUE(loader.protocol.Holding());
    loader.protocol.CutShort();
    loader.Feed({'U', 'F'});
    loader.Wake(kSteps.size());
    EXPECT_EQ(loader.errors,
              (Texts{"frame 0x0010 cut short: 100 of 2051 bytes", "expected UFLHU, got 55 46"}));
    EXPECT_EQ(loader.pages, (std::vector<std::uint16_t>{8, 16, 0}));  // erased, and 8 again
    EXPECT_EQ(loader.sent.size(), (3 + 7) * kAck.size());
}

// Time-outs ten times the tool's, for a busy machine.
PosixSerialPortOpener& Opener() {
    static const ScaledClock slow(0.1);
    static PosixSerialPortOpener opener(slow);
    return opener;
}

// What arrives until `n` bytes have come or the port's time-out has passed.
Bytes Read(SerialPort& port, std::size_t n) {
    Bytes bytes(n);
    bytes.resize(port.Read(bytes).value_or(0));
    return bytes;
}

// Writes `text` through one opening of the line at `baud`, then reads `n` bytes.
Bytes Exchange(const SerialLoaderSim& sim, const std::string& text, std::size_t n = 0,
               std::uint32_t baud = serial::kWakeBaud) {
    const auto port = Opener().Open(sim.DevicePath(), baud).port;
    EXPECT_TRUE(port && port->Write(Bytes(text.begin(), text.end())));
    return port && n != 0 ? Read(*port, n) : Bytes{};
}

TEST(SerialLoaderSim, PacesItsAnswersReportsAQuietHalfFrameAndStopsWithOneOutstanding) {
    const auto descriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    };
    const auto before = descriptors();
    auto sim = std::make_unique<SerialLoaderSim>(SerialLoaderOptions{.paceAtBaud = true});
    // Woken at 9600, then at 115200 past "UCLRU" and "UFLHU".
    Exchange(*sim, {static_cast<char>(serial::kWakeByte)});
    ASSERT_TRUE(sim->WaitForLog("wake@9600"));
    auto port = Opener().Open(sim->DevicePath(), serial::kDownloadBaud).port;
    ASSERT_TRUE(port && port->Write(kClear) && port->Write(kFlash));
    EXPECT_EQ(Read(*port, 6), Bytes({'U', '5', 'U', 'U', '5', 'U'}));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(port->Write(kSteps[2]));
    EXPECT_EQ(Read(*port, 3), kAck);
    // 2051 bytes of 10 bits at 115200 baud take 178 ms.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
    const Bytes half(kSteps[4].begin(), kSteps[4].begin() + 1000);
    ASSERT_TRUE(port->Write(kFlash) && port->Write(half));
    EXPECT_EQ(Read(*port, 3), kAck);
    for (int i = 0; i < 2000 && sim->Errors().empty(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(sim->Errors(), Texts{"frame 0x0010 cut short: 1000 of 2051 bytes"});
    ASSERT_TRUE(port->Write(kFlash) && port->Write(half));  // outstanding as the loader goes
    EXPECT_EQ(Read(*port, 3), kAck);
    auto gone = std::async(std::launch::async, [&] { sim.reset(); });
    EXPECT_EQ(gone.wait_for(10s), std::future_status::ready);
    port.reset();
    EXPECT_EQ(descriptors(), before);
}

TEST(SerialLoaderSim, AnswersAndRecordsMaintenanceFramesAt9600BaudOrAsScripted) {
    SerialLoaderSim sim;
    // Waits until the loader has taken `count` maintenance frames, and returns them.
    const auto frames = [&](std::size_t count) {
        for (int i = 0; i < 1000 && sim.MaintenanceFrames().size() < count; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        return sim.MaintenanceFrames();
    };
    const std::string command{static_cast<char>(maint::kCommandLead)};
    const std::string version = "TARVIK LOADER 2.0.0";
    EXPECT_EQ(Exchange(sim, command + "%/%/", version.size()),
              Bytes(version.begin(), version.end()));
    Exchange(sim, command + "KE99");  // no answer: the next one would start with it
    EXPECT_EQ(Exchange(sim, command + "CR01", 1), Bytes{0x06});
    EXPECT_EQ(Exchange(sim, command + "CR02", 16),
              (Bytes{'C', 0x01, 0x02, 0x0A, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'R'}));
    Exchange(sim, {static_cast<char>(maint::kCradleLead)});
    Exchange(sim, "B0123456789ABT");
    Exchange(sim, {static_cast<char>(maint::kRawLead)});
    Exchange(sim, "DNaNN");
    frames(8);  // the line's pause ends a raw text
    Exchange(sim, static_cast<char>(maint::kRawLead) + std::string("DN"));
    frames(10);
    Exchange(sim, "?");
    EXPECT_EQ(frames(11), (Texts{"command %/%/", "command KE99", "command CR01", "command CR02",
                                 "cradle lead", "cradle 0123456789AB", "raw lead", "raw NaN",
                                 "raw lead", "raw ", "unexpected 0x3F"}));
    EXPECT_EQ(sim.Errors(), Texts{});
    Exchange(sim, command + "KE99", 0, serial::kDownloadBaud);
    ASSERT_TRUE(sim.WaitForLog("unexpected 0x39@115200"));       // taken before the rate goes back
    EXPECT_EQ(Exchange(sim, command + "CR01", 1), Bytes{0x06});  // and not answered
    EXPECT_EQ(sim.Errors(), Texts{"maintenance frame at 115200 baud"});

    SerialLoaderSim scripted({.maintenanceReplies = {{"%/%/", {}}, {"CR01", {0x15}}}});
    Exchange(scripted, command + "%/%/");
    EXPECT_EQ(Exchange(scripted, command + "CR01", 1), Bytes{0x15});
    EXPECT_EQ(scripted.MaintenanceFrames(), (Texts{"command %/%/", "command CR01"}));
}

}  // namespace
}  // namespace tarvik::sim
