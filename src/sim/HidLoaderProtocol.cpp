#include "sim/HidLoaderProtocol.h"

#include <algorithm>
#include <cerrno>
#include <span>
#include <utility>

#include "hid/HidReports.h"
#include "sim/HexText.h"

namespace tarvik::sim {

namespace {

// The device has no report IDs: its reports on the wire are the updater's without byte 0.
constexpr std::size_t kWireSize = kHidReportSize - 1;
// Enough of a report to tell what it was meant to be: the ID and a header's five bytes.
constexpr std::size_t kShownBytes = 6;

static_assert((kBlockSize + hid::kDataPerReport - 1) / hid::kDataPerReport ==
              hid::kDataReportsPerBlock);

// "00 AA 00 08 3C 04"
std::string ShownBytes(const HidReport& report) {
    return HexBytes(std::span(report).first<kShownBytes>());
}

bool IsWriteFault(HidFaultKind kind) {
    return kind == HidFaultKind::WriteFails || kind == HidFaultKind::DeviceGone;
}

}  // namespace

HidLoaderProtocol::HidLoaderProtocol(Host& host, std::vector<HidFault>& faults)
    : m_host(host), m_faults(faults) {}

int HidLoaderProtocol::Take(const HidReport& report) {
    const bool start = report[0] == 0x00 && report[1] == hid::kStartCommand;
    const int index = start ? 0 : m_reports;
    m_reports = index + 1;
    if (const auto fault = TakeFault(IsWriteFault, index)) {
        // Either way the report never reaches the loader.
        if (fault->kind == HidFaultKind::DeviceGone) {
            m_host.Unplug();
            return ENODEV;
        }
        return fault->error;
    }
    if (report[0] != 0x00) {
        Unexpected(report, "report ID " + Hex(report[0]) + ", expected 0x00");
    } else if (start) {
        Start(report);
    } else if (m_state == State::ExpectHeader && report[1] == hid::kHeaderMarker) {
        Header(report);
    } else if (m_state == State::ExpectData && report[1] == hid::kDataMarker) {
        Data(report);
    } else {
        Unexpected(report, "expected " + Expected() + ", got " + ShownBytes(report));
    }
    return 0;
}

// A start opens a download afresh, whatever came before it.
void HidLoaderProtocol::Start(const HidReport& report) {
    if (m_state == State::ExpectData) {
        Fail(BlockText() + " cut short: " + std::to_string(m_dataReports) + " of " +
             std::to_string(hid::kDataReportsPerBlock) + " data reports");
    }
    m_host.Log("start");
    m_state = State::ExpectHeader;
    m_blocks = 0;
    m_nextPage = kPagesPerBlock;
    HidReport expected{};
    expected[1] = hid::kStartCommand;
    Check("start report", report, expected);
}

void HidLoaderProtocol::Header(const HidReport& report) {
    m_state = State::ExpectData;
    m_block = m_blocks++;
    m_page = static_cast<std::uint16_t>(report[2] << 8 | report[3]);
    m_checksum = report[4];
    m_dataReports = 0;
    m_faulty = false;
    m_buffer = {};
    m_buffer[1] = hid::kHeaderMarker;
    m_buffer[2] = report[2];
    m_buffer[3] = report[3];
    m_buffer[4] = report[4];
    m_buffer[5] = hid::kHeaderTrailer;
    Check(BlockText() + " header", report, m_buffer);
}

void HidLoaderProtocol::Data(const HidReport& report) {
    const std::size_t at = m_dataReports * hid::kDataPerReport;
    const std::size_t count = std::min(hid::kDataPerReport, kBlockSize - at);
    ++m_dataReports;
    // Only the marker, the count and the data are written over what the buffer held.
    const auto data = report.begin() + hid::kDataOffset;
    m_buffer[1] = hid::kDataMarker;
    m_buffer[2] = static_cast<std::uint8_t>(count);
    std::copy_n(data, count, m_buffer.begin() + hid::kDataOffset);
    std::copy_n(data, count, m_data.begin() + static_cast<std::ptrdiff_t>(at));
    Check(BlockText() + " data report " + std::to_string(m_dataReports), report, m_buffer);
    if (m_dataReports == hid::kDataReportsPerBlock) {
        EndBlock();
    }
}

void HidLoaderProtocol::EndBlock() {
    m_state = State::ExpectHeader;
    m_host.Log(BlockText());
    if (m_page != 0 && m_page != m_nextPage) {
        Fail(BlockText() + " out of order: " +
             (m_nextPage
                  ? "expected page " +
                        (*m_nextPage <= 0xFFFF ? PageText(*m_nextPage) + " or " : "") + PageText(0)
                  : "page " + PageText(0) + " was the last"));
    }
    const std::uint8_t checksum = ComputeBlockChecksum(m_page, m_data);
    if (checksum != m_checksum) {
        Fail(BlockText() + ": checksum " + Hex(m_checksum) + ", expected " + Hex(checksum));
    }
    if (!m_faulty) {
        Answer();
    }
}

// Answers a whole valid block as the faults say. Only a right acknowledgement records the
// block, before it goes out, so a tool that has the answer finds the block kept.
void HidLoaderProtocol::Answer() {
    m_nextPage = m_page == 0 ? std::nullopt : std::optional(m_page + kPagesPerBlock);
    std::vector<std::uint8_t> wire(kWireSize, 0);
    const auto placeAck = [&](int reportOffset) {
        std::ranges::copy(hid::kAck, wire.begin() + (reportOffset - 1));
    };
    const auto fault = TakeFault([](HidFaultKind kind) { return !IsWriteFault(kind); }, m_block);
    if (!fault) {
        m_host.Record(m_page, m_data);
        placeAck(static_cast<int>(hid::kAckOffset));
        m_host.Send(std::move(wire));
        return;
    }
    switch (fault->kind) {
        case HidFaultKind::AckAtWrongOffset:
            placeAck(fault->offset);
            m_host.Send(std::move(wire));
            return;
        case HidFaultKind::ShortReport:
            m_host.Send({0x00});
            return;
        default:  // NoAck
            return;
    }
}

void HidLoaderProtocol::Unexpected(const HidReport& report, const std::string& text) {
    m_host.Log("unexpected " + ShownBytes(report));
    Fail(text);
}

void HidLoaderProtocol::Check(const std::string& what, const HidReport& got,
                              const HidReport& expected) {
    const auto [off, want] = std::ranges::mismatch(got, expected);
    if (off != got.end()) {
        Fail(what + ": byte " + std::to_string(off - got.begin()) + " is " + Hex(*off) +
             ", expected " + Hex(*want));
    }
}

// An error inside a block costs the block its acknowledgement.
void HidLoaderProtocol::Fail(std::string text) {
    m_faulty = m_faulty || m_state != State::Idle;
    m_host.Error(std::move(text));
}

std::string HidLoaderProtocol::Expected() const {
    switch (m_state) {
        case State::Idle:
            return "the start report";
        case State::ExpectHeader:
            return "a block header";
        default:
            return "data report " + std::to_string(m_dataReports + 1) + " of " + BlockText();
    }
}

std::string HidLoaderProtocol::BlockText() const {
    return "block " + PageText(m_page);
}

template <typename Matches>
std::optional<HidFault> HidLoaderProtocol::TakeFault(Matches matches, int at) {
    const auto found = std::ranges::find_if(
        m_faults, [&](const HidFault& fault) { return matches(fault.kind) && fault.at == at; });
    if (found == m_faults.end()) {
        return std::nullopt;
    }
    const HidFault fault = *found;
    m_faults.erase(found);
    return fault;
}

}  // namespace tarvik::sim
