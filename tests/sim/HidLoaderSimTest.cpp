// What the USB road's end-to-end tests cannot see of the simulated HID loader: what it refuses
// and reports, its handles, and a reader woken in another thread. (Each scripted fault shows
// in the road's own table as the boxes it causes.)
#include <algorithm>
#include <cerrno>
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
// builder, so that a fault in either shows. The tool's buffer is not cleared between reports:
// the last data report, of 48 bytes, still holds the 40th's final two.
Reports Block(std::uint16_t page, const Bytes& data) {
    const unsigned sum = std::accumulate(data.begin(), data.end(), page & 0xFFu);
    Reports reports = {
        Report({0xAA, static_cast<std::uint8_t>(page >> 8), static_cast<std::uint8_t>(page),
                static_cast<std::uint8_t>(sum), 0x04})};
    for (std::size_t at = 0; at < data.size(); at += 50) {
        HidReport report = reports.back();
        const std::size_t n = std::min<std::size_t>(50, data.size() - at);
        report[1] = 0x55;
        report[2] = static_cast<std::uint8_t>(n);
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(at), n, report.begin() + 3);
        reports.push_back(report);
    }
    return reports;
}

// A faulty block is reported, and neither answered nor kept.
TEST(HidLoaderSim, FaultyBlocksAreReportedNeitherAnsweredNorKept) {
    // A good block of page 8, one with a byte of its fill or its checksum changed, and one
    // cut short by a new start.
    const Reports good = Block(8, Data(1));
    Reports fill = good, checksum = good, cut(good.begin(), good.begin() + 10);
    fill[41][51] = 0x00;
    checksum[0][4] = 0x09;
    cut.push_back(kStart);
    const std::vector<std::pair<Reports, std::string>> faulty = {
        {fill, "block 0x0008 data report 41: byte 51 is 0x00, expected 0xA3"},
        {checksum, "block 0x0008: checksum 0x09, expected 0x08"},
        {Block(16, Data(1)), "block 0x0010 out of order: expected page 0x0008 or 0x0000"},
        {cut, "block 0x0008 cut short: 9 of 41 data reports"},
    };
    for (const auto& [reports, error] : faulty) {
        SCOPED_TRACE(error);
        HidLoaderSim bus(HidLoaderOptions{});
        const auto device = bus.Open("sim:hid-loader");
        EXPECT_EQ(device->Write(kStart), 0);
        for (const HidReport& report : reports) {
            EXPECT_EQ(device->Write(report), 0);
        }
        HidReport answer = kAck;  // what was there before, left as it was
        const HidReadResult got = device->Read(answer, 10ms);
        EXPECT_EQ(std::tuple(bus.Errors(), got.status, got.count, answer, bus.Pages()),
                  std::tuple(Texts{error}, Status::TimedOut, std::size_t{0}, kAck, Pages{}));
    }
}

// Beside a device that is no loader, the loader answers each block once, to a reader waiting
// in another thread, and wakes it when unplugged at the report after a one-block download.
TEST(HidLoaderSim, CountsHandlesAnswersAWaitingReaderOnceWakesItAtTheUnplugAndOutlivesTheBus) {
    const HidAttributes app{0x1234, 0x0012, 0x0200}, boot{0xFFFF, 0x0012, 0x0100};
    auto bus = std::make_unique<HidLoaderSim>(
        HidLoaderOptions{.devices = {{.path = "sim:app", .attributes = app},
                                     {.path = "sim:boot", .attributes = boot, .loader = true}},
                         .faults = {{.kind = HidFaultKind::DeviceGone, .at = 1 + 42}}});
    const auto listed = bus->Enumerate().value();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(
        std::tuple(listed[0].path, listed[0].attributes, listed[1].path, listed[1].attributes),
        std::tuple("sim:app", app, "sim:boot", boot));
    auto other = bus->Open("sim:app");
    const auto writer = bus->Open("sim:boot");
    const auto reader = bus->Open("sim:boot");
    ASSERT_TRUE(other && writer && reader);
    EXPECT_FALSE(bus->Open("sim:none"));
    EXPECT_EQ(bus->OpenHandles(), 3);
    EXPECT_EQ(other->Write(kStart), 0);
    EXPECT_EQ(bus->Errors(), Texts{"report to sim:app, which is no loader"});
    other.reset();
    EXPECT_EQ(bus->OpenHandles(), 2);

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
    const Reports block = Block(0, Data(1));
    ASSERT_EQ(writer->Write(kStart), 0);
    for (auto report = block.begin(); report + 1 != block.end(); ++report) {
        ASSERT_EQ(writer->Write(*report), 0);
    }
    auto answered = readInThread();
    ASSERT_EQ(writer->Write(block.back()), 0);
    ASSERT_EQ(answered.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(answered.get(), std::tuple(Status::Report, 65u, kAck));
    HidReport answer{};
    EXPECT_EQ(reader->Read(answer, 10ms).status, Status::TimedOut);  // one answer a block

    auto unplugged = readInThread();
    EXPECT_EQ(writer->Write(Report({0xAA})), ENODEV);
    ASSERT_EQ(unplugged.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(std::get<0>(unplugged.get()), Status::DeviceGone);
    EXPECT_EQ(reader->Read(answer, 10s).status, Status::DeviceGone);
    const auto present = bus->Enumerate();
    EXPECT_TRUE(present && present->size() == 1);  // the other device stays
    EXPECT_FALSE(bus->Open("sim:boot"));
    bus.reset();
    EXPECT_EQ(writer->Write(kStart), ENODEV);  // the handle outlives the bus
}

}  // namespace
}  // namespace tarvik::sim
