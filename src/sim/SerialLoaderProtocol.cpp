#include "sim/SerialLoaderProtocol.h"

#include <algorithm>
#include <array>
#include <utility>

#include "sim/HexText.h"

namespace tarvik::sim {

namespace {

using serial::Command;
using serial::kDownloadBaud;
using serial::kWakeBaud;

std::string CommandText(const Command& command) {
    return std::string(command.begin(), command.end());
}

std::string Unexpected(std::uint8_t byte, std::uint32_t baud) {
    return "unexpected " + Hex(byte) + "@" + std::to_string(baud);
}

}  // namespace

SerialLoaderProtocol::SerialLoaderProtocol(Host& host, bool answerSearch,
                                           std::map<int, Fault> faults)
    : m_host(host), m_answerSearch(answerSearch), m_faults(std::move(faults)) {}

bool SerialLoaderProtocol::Take(std::uint8_t byte, std::uint32_t baud) {
    // The rebooted device runs its new firmware, which the wake sequence brings back to the
    // loader for the next download; anything else right behind the reboot is the tool's fault.
    if (baud == kWakeBaud && byte == serial::kWakeByte) {
        m_afterReboot = false;
        Wake();
        return false;
    }
    if (m_state == State::Rebooted) {
        m_host.Log(Unexpected(byte, baud));
        if (!std::exchange(m_afterReboot, true)) {
            m_host.Error(Hex(byte) + " after the reboot");
        }
        return false;
    }
    if (m_state == State::Asleep) {
        // Not the loader's business yet: the device runs its application.
        m_host.Log(Unexpected(byte, baud));
        return false;
    }
    const bool search = m_state == State::Searching && !Holding() && byte == serial::kSearchByte;
    if (baud != kDownloadBaud) {
        if (search) {
            m_host.Settle();
            m_host.Log("search@" + std::to_string(baud));
            m_host.Error("search byte at " + std::to_string(baud) + " baud");
            return false;
        }
        // Lost on a real line, so not part of any message; one error per run of them.
        m_host.Log(Unexpected(byte, baud));
        if (!std::exchange(m_offRate, true)) {
            m_host.Error(Hex(byte) + " at " + std::to_string(baud) + " baud");
        }
        return false;
    }
    m_offRate = false;
    if (search) {
        Search();
        return false;
    }
    m_message.push_back(byte);
    const bool frame = m_state == State::ExpectFrame;
    if (m_message.size() < (frame ? serial::kFrameSize : serial::kClear.size())) {
        return true;
    }
    if (frame) {
        OnFrame();
    } else {
        OnCommand();
    }
    return false;
}

void SerialLoaderProtocol::CutShort() {
    if (!Holding()) {
        return;
    }
    m_host.Error(CutShortText());
    m_message.clear();
    if (m_state == State::ExpectFrame) {
        m_state = State::ExpectFlash;
    }
}

void SerialLoaderProtocol::Wake() {
    CutShort();
    m_host.Settle();
    m_host.Log("wake@" + std::to_string(kWakeBaud));
    m_state = State::Searching;
    m_offRate = false;
}

void SerialLoaderProtocol::Search() {
    m_host.Settle();
    m_host.Log("search@" + std::to_string(kDownloadBaud));
    if (m_answerSearch) {
        m_host.Send(std::array{serial::kFoundByte});
    }
}

void SerialLoaderProtocol::OnCommand() {
    const std::vector<std::uint8_t> got = std::exchange(m_message, {});
    const auto is = [&](const Command& command) { return std::ranges::equal(got, command); };
    m_host.Settle();
    const bool reboots =
        is(serial::kReboot) && (m_state == State::ExpectFlash || m_state == State::ExpectReboot);
    if (reboots) {
        m_host.Reboot();  // before the log entry, so that whoever waits for it sees the reboot
    }
    if (is(serial::kClear) || is(serial::kFlash) || is(serial::kReboot)) {
        m_host.Log(std::string(got.begin(), got.end()));
    } else {
        for (const std::uint8_t byte : got) {
            m_host.Log(Unexpected(byte, kDownloadBaud));
        }
    }
    if (reboots) {
        // The device restarts into whatever it has, complete or not.
        if (m_state == State::ExpectFlash) {
            m_host.Error("URBTU before page 0 was flashed");
        }
        m_state = State::Rebooted;
        return;
    }
    const Command& expected = ExpectedCommand();
    if (!is(expected)) {
        m_host.Error("expected " + CommandText(expected) + ", got " + HexBytes(got));
        return;
    }
    if (m_state == State::Searching) {
        // The clear starts a download afresh: steps count from it, the flash is erased.
        m_step = 0;
        m_nextPage = kPagesPerBlock;
        m_host.Erase();
    }
    m_state = m_state == State::Searching ? State::ExpectFlash : State::ExpectFrame;
    Acknowledge();
}

void SerialLoaderProtocol::OnFrame() {
    const std::vector<std::uint8_t> frame = std::exchange(m_message, {});
    m_host.Settle();
    const auto page = static_cast<std::uint16_t>(frame[0] << 8 | frame[1]);
    m_host.Log("frame " + PageText(page));
    // Good or bad, the loader waits for a command next.
    m_state = State::ExpectFlash;
    if (page != 0 && page != m_nextPage) {
        const std::string expected =
            m_nextPage <= 0xFFFF ? PageText(static_cast<std::uint16_t>(m_nextPage)) + " or " : "";
        m_host.Error("frame " + PageText(page) + " out of order: expected page " + expected +
                     PageText(0));
        return;
    }
    const BlockData data(frame.data() + 2, kBlockSize);
    const std::uint8_t checksum = ComputeBlockChecksum(page, data);
    if (checksum != frame.back()) {
        m_host.Error("frame " + PageText(page) + ": checksum " + Hex(frame.back()) + ", expected " +
                     Hex(checksum));
        return;
    }
    m_nextPage = page + kPagesPerBlock;
    m_state = page == 0 ? State::ExpectReboot : State::ExpectFlash;
    Acknowledge([&] { m_host.Record(page, data); });
}

// Answers the step just taken as the faults say. `onAck` runs when the answer is "U5U",
// before it goes out, so a tool that has the answer finds the block recorded.
void SerialLoaderProtocol::Acknowledge(const std::function<void()>& onAck) {
    const auto acknowledge = [&](std::span<const std::uint8_t> stray) {
        if (onAck) {
            onAck();
        }
        std::vector<std::uint8_t> answer(serial::kAck.begin(), serial::kAck.end());
        answer.insert(answer.end(), stray.begin(), stray.end());
        m_host.Send(answer);
    };
    const auto found = m_faults.find(m_step++);
    if (found == m_faults.end()) {
        acknowledge({});
        return;
    }
    const Fault fault = std::move(found->second);
    m_faults.erase(found);
    switch (fault.kind) {
        case FaultKind::Silence:
            return;
        case FaultKind::WrongReply:
            m_host.Send(fault.bytes);
            return;
        case FaultKind::StrayBytes:
            acknowledge(fault.bytes);
            return;
        case FaultKind::LateAck:
            if (m_host.Wait(fault.delay)) {
                acknowledge({});
            }
            return;
        case FaultKind::StallLine:
            // Held before the answer goes out, so not one byte of the tool's next write
            // gets through.
            m_host.HoldLine();
            acknowledge({});
            return;
    }
}

std::string SerialLoaderProtocol::CutShortText() const {
    if (m_state != State::ExpectFrame) {
        return "expected " + CommandText(ExpectedCommand()) + ", got " + HexBytes(m_message);
    }
    std::string text = "frame ";
    if (m_message.size() >= 2) {
        text += PageText(static_cast<std::uint16_t>(m_message[0] << 8 | m_message[1])) + " ";
    }
    return text + "cut short: " + std::to_string(m_message.size()) + " of " +
           std::to_string(serial::kFrameSize) + " bytes";
}

const Command& SerialLoaderProtocol::ExpectedCommand() const {
    switch (m_state) {
        case State::ExpectFlash:
            return serial::kFlash;
        case State::ExpectReboot:
            return serial::kReboot;
        default:
            return serial::kClear;
    }
}

}  // namespace tarvik::sim
