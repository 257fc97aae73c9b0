// What the USB road's end-to-end tests cannot see of the simulated HID loader.
#include <algorithm>
#include <cerrno>
#include <functional>
#include <future>
#include <numeric>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "sim/HidLoaderSim.h"

namespace tarvik::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Texts = std::vector<std::string>;
using Pages = std::vector<std::uint16_t>;
using Reports = std::vector<HidReport>;
using Status = HidReadResult::Status;

// Every byte differs from its neighbours, so a byte out of place shows.
Bytes Data(int seed) {
    Bytes data(2048);
    for (std::size_t j = 0; j < data.size(); ++j) {
        data[j] = static_cast<std::uint8_t>(j * 7 + static_cast<std::size_t>(seed));
    }
    return data;
}

// A report with `contents` from byte 1 on, zero after them.
HidReport Report(std::initializer_list<std::uint8_t> contents) {
    HidReport report{};
    std::ranges::copy(contents, report.begin() + 1);
    return report;
}

const HidReport kStart = Report({0xB5});
const HidReport kAck = Report({0x00, 'U', '5', 'U'});

// A block's header and 41 data reports, written out here rather than taken from the tool's
// builder, so that a fault in either shows.
Reports Block(std::uint16_t page, const Bytes& data) {
    const unsigned sum = std::accumulate(data.begin(), data.end(), page & 0xFFu);
    Reports reports(42);
    reports[0] = Report({0xAA, static_cast<std::uint8_t>(page >> 8),
                         static_cast<std::uint8_t>(page), static_cast<std::uint8_t>(sum), 0x04});
    for (std::size_t k = 0; k < 41; ++k) {
        const std::size_t n = k < 40 ? 50 : 48;
        reports[1 + k][1] = 0x55;
        reports[1 + k][2] = static_cast<std::uint8_t>(n);
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(50 * k), n,
                    reports[1 + k].begin() + 3);
    }
    // The tool's buffer is not cleared between data reports: the last, of 48, still holds
    // the 40th's final two bytes.
    reports[41][51] = data[1998];
    reports[41][52] = data[1999];
    return reports;
}

void WriteAll(HidDevice& device, const Reports& reports) {
    for (const HidReport& report : reports) {
        ASSERT_EQ(device.Write(report), 0);
    }
}

TEST(HidLoaderSim, BlockWithAFaultIsReportedAndNeitherAcknowledgedNorKept) {
    struct Case {
        std::uint16_t page;
        std::function<void(Reports&)> change;
        Texts errors;
        std::vector<HidFault> faults = {};
    };
    const std::vector<Case> cases = {
        {8,
         [](Reports& r) { r[41][51] = 0x00; },
         {"block 0x0008 data report 41: byte 51 is 0x00, expected 0xA3"}},
        {8, [](Reports& r) { ++r[0][4]; }, {"block 0x0008: checksum 0x09, expected 0x08"}},
        {16, [](Reports&) {}, {"block 0x0010 out of order: expected page 0x0008 or 0x0000"}},
        // Scripted: answered with one byte, which only a tool that ignores the count takes
        // for an answer.
        {0, [](Reports&) {}, {}, {{.kind = HidFaultKind::ShortReport, .at = 0}}},
    };
    for (const auto& [page, change, errors, faults] : cases) {
        SCOPED_TRACE(errors.empty() ? "short answer" : errors[0]);
        HidLoaderSim bus({.faults = faults});
        const auto device = bus.Open("sim:hid-loader");
        ASSERT_TRUE(device);
        Reports reports = Block(page, Data(1));
        change(reports);
        ASSERT_EQ(device->Write(kStart), 0);
        WriteAll(*device, reports);
        EXPECT_EQ(bus.Errors(), errors);
        HidReport answer = kAck;  // as the answer before left it
        const HidReadResult got = device->Read(answer, faults.empty() ? 10ms : 10s);
        EXPECT_EQ(std::pair(got.status, got.count),
                  faults.empty() ? std::pair(Status::TimedOut, std::size_t{0})
                                 : std::pair(Status::Report, std::size_t{2}));
        EXPECT_EQ(answer, kAck);
        EXPECT_EQ(bus.Pages(), Pages{});
    }
}

TEST(HidLoaderSim, OpensAsScriptedAndCountsHandlesEvenPastTheBus) {
    const HidAttributes app{0x1234, 0x0012, 0x0200};
    const HidAttributes boot{0xFFFF, 0x0012, 0x0100};
    auto bus = std::make_unique<HidLoaderSim>(HidLoaderOptions{
        .devices = {{.path = "sim:app", .attributes = app, .refusesSecondOpen = true},
                    {.path = "sim:boot",
                     .attributes = boot,
                     .loader = true,
                     .attributesUnreadable = true}}});
    std::vector<std::pair<std::string, HidAttributes>> listed;
    for (const HidDeviceInfo& info : bus->Enumerate().value_or(std::vector<HidDeviceInfo>{})) {
        listed.emplace_back(info.path, info.attributes);
    }
    EXPECT_EQ(listed, (decltype(listed){{"sim:app", app}, {"sim:boot", boot}}));

    auto first = bus->Open("sim:app");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->GetAttributes(), app);
    EXPECT_FALSE(bus->Open("sim:app"));
    auto loader = bus->Open("sim:boot");
    ASSERT_TRUE(loader);
    EXPECT_EQ(loader->GetAttributes(), std::nullopt);
    EXPECT_FALSE(bus->Open("sim:none"));
    EXPECT_EQ(bus->OpenHandles(), 2);
    EXPECT_EQ(first->Write(kStart), 0);
    EXPECT_EQ(bus->Errors(), Texts{"report to sim:app, which is no loader"});
    first.reset();
    EXPECT_TRUE(bus->Open("sim:app"));
    loader.reset();
    EXPECT_EQ(bus->OpenHandles(), 0);
    EXPECT_EQ(bus->OpenCalls(), (Texts{"sim:app", "sim:app", "sim:boot", "sim:none", "sim:app"}));

    auto late = bus->Open("sim:boot");
    bus.reset();
    EXPECT_EQ(late->Write(kStart), 0);
    late.reset();
}

// Each block is answered once, when its last report is in, waking a reader in another thread.
TEST(HidLoaderSim, CleanDownloadIsAnsweredBlockByBlockToAWaitingReaderAndKeptUntilTheUnplug) {
    // Unplugged at the first report after the download: the start is report 0.
    HidLoaderSim bus({.faults = {{.kind = HidFaultKind::DeviceGone, .at = 1 + 2 * 42}}});
    const auto writer = bus.Open("sim:hid-loader");
    const auto reader = bus.Open("sim:hid-loader");
    ASSERT_TRUE(writer && reader);
    const auto readInThread = [&] {
        auto read = std::async(std::launch::async, [&] {
            HidReport answer;
            answer.fill(0xEE);
            const HidReadResult got = reader->Read(answer, 30s);
            return std::tuple(got.status, got.count, answer);
        });
        std::this_thread::sleep_for(50ms);  // lets the reader block first
        return read;
    };
    const Bytes first = Data(1), last = Data(2);
    ASSERT_EQ(writer->Write(kStart), 0);
    for (const auto& [page, data] : {std::pair{8, &first}, std::pair{0, &last}}) {
        const Reports block = Block(static_cast<std::uint16_t>(page), *data);
        WriteAll(*writer, Reports(block.begin(), block.end() - 1));
        auto answered = readInThread();
        ASSERT_EQ(writer->Write(block.back()), 0);
        ASSERT_EQ(answered.wait_for(10s), std::future_status::ready);
        EXPECT_EQ(answered.get(), std::tuple(Status::Report, 65u, kAck));
        HidReport again{};
        EXPECT_EQ(reader->Read(again, 10ms).status, Status::TimedOut);  // one answer a block
    }
    EXPECT_EQ(bus.Errors(), Texts{});
    EXPECT_EQ(bus.Log(), (Texts{"start", "block 0x0008", "block 0x0000"}));
    EXPECT_EQ(bus.Pages(), (Pages{8, 0}));
    Bytes flashed = last;
    flashed.insert(flashed.end(), first.begin(), first.end());
    EXPECT_EQ(bus.Flashed(), flashed);

    auto unplugged = readInThread();
    EXPECT_EQ(writer->Write(Report({0xAA})), ENODEV);
    ASSERT_EQ(unplugged.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(std::get<0>(unplugged.get()), Status::DeviceGone);
    EXPECT_EQ(writer->Write(kStart), ENODEV);
    HidReport answer{};
    EXPECT_EQ(reader->Read(answer, 10s).status, Status::DeviceGone);
    const auto present = bus.Enumerate();
    EXPECT_TRUE(present && present->empty());
    EXPECT_FALSE(bus.Open("sim:hid-loader"));
}

}  // namespace
}  // namespace tarvik::sim
