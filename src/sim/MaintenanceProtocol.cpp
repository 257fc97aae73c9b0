#include "sim/MaintenanceProtocol.h"

#include <string_view>
#include <utility>

#include "maint/MaintenanceFrames.h"
#include "serial/SerialFrames.h"
#include "sim/HexText.h"

namespace tarvik::sim {

namespace {

// Maintenance frames go at the wake rate.
static_assert(maint::kBaudIndex == serial::kWakeBaudIndex);
constexpr std::uint32_t kMaintenanceBaud = serial::kWakeBaud;

constexpr std::string_view kVersionText = "TARVIK LOADER 2.0.0";
static_assert(kVersionText.size() <= maint::kTextReplyMax);

// A cradle frame: start, the ID, end.
constexpr std::size_t kCradleFrameSize = maint::kCradleIdSize + 2;

bool IsLead(std::uint8_t byte) {
    return byte == maint::kCommandLead || byte == maint::kCradleLead || byte == maint::kRawLead;
}

const char* FrameName(std::uint8_t lead) {
    switch (lead) {
        case maint::kCommandLead:
            return "command";
        case maint::kCradleLead:
            return "cradle";
        default:
            return "raw";
    }
}

// The device in its cradle: five values, then zeros up to the end byte.
std::vector<std::uint8_t> Cr02Reply() {
    std::vector<std::uint8_t> reply(maint::kCr02ReplySize, 0x00);
    reply.front() = maint::kCr02First;
    reply[1] = 0x01;
    reply[2] = 0x02;
    reply[3] = 0x0A;
    reply[4] = 0xFF;
    reply.back() = maint::kCr02Last;
    return reply;
}

std::vector<std::uint8_t> DefaultReply(std::string_view command) {
    if (command == maint::kVersion || command == maint::kQuery) {
        return {kVersionText.begin(), kVersionText.end()};
    }
    if (command == maint::kUndiscover) {
        return {maint::kUndiscoverAck};
    }
    if (command == maint::kCr02) {
        return Cr02Reply();
    }
    return {};  // the others are carried out without a word
}

std::string Text(std::vector<std::uint8_t>::const_iterator first,
                 std::vector<std::uint8_t>::const_iterator last) {
    return std::string(first, last);
}

}  // namespace

MaintenanceProtocol::MaintenanceProtocol(Host& host,
                                         std::map<std::string, std::vector<std::uint8_t>> replies)
    : m_host(host), m_replies(std::move(replies)) {}

bool MaintenanceProtocol::Take(std::uint8_t byte, std::uint32_t baud, bool downloading) {
    if (baud == serial::kWakeBaud && byte == serial::kWakeByte) {
        // The wake byte always reaches the loader; a lead left waiting is forgotten.
        Drop();
        return false;
    }
    if (baud != kMaintenanceBaud) {
        // Lost on a real line; in a download such bytes are the firmware protocol's concern.
        if (m_lead != 0 || (!downloading && IsLead(byte))) {
            m_host.Error("maintenance frame at " + std::to_string(baud) + " baud");
            m_lead = 0;
            m_body.clear();
        }
        return false;
    }
    return TakeAtRate(byte);
}

bool MaintenanceProtocol::TakeAtRate(std::uint8_t byte) {
    if (m_lead == 0) {
        if (!IsLead(byte)) {
            m_host.Frame("unexpected " + Hex(byte));
            return false;
        }
        m_lead = byte;
        if (byte != maint::kCommandLead) {
            m_host.Frame(std::string(FrameName(byte)) + " lead");
        }
        return true;
    }
    if (m_body.empty() && m_lead != maint::kCommandLead) {
        const std::uint8_t start =
            m_lead == maint::kCradleLead ? maint::kCradleStart : maint::kRawStart;
        if (byte != start) {
            // The lead's frame never came: this byte starts afresh.
            m_lead = 0;
            return TakeAtRate(byte);
        }
    }
    m_body.push_back(byte);
    if (m_lead == maint::kCommandLead && m_body.size() == maint::kCommandSize) {
        OnCommand();
    } else if (m_lead == maint::kCradleLead && m_body.size() == kCradleFrameSize) {
        OnCradle();
    }
    return true;
}

void MaintenanceProtocol::OnCommand() {
    const std::string command = Text(m_body.begin(), m_body.end());
    m_lead = 0;
    m_body.clear();
    m_host.Settle();
    // Recorded before the answer goes out, so whoever has the answer finds the frame.
    m_host.Frame("command " + command);
    const auto scripted = m_replies.find(command);
    const std::vector<std::uint8_t> reply =
        scripted != m_replies.end() ? scripted->second : DefaultReply(command);
    if (!reply.empty()) {
        m_host.Send(reply);
    }
}

void MaintenanceProtocol::OnCradle() {
    const std::vector<std::uint8_t> frame = std::exchange(m_body, {});
    m_lead = 0;
    m_host.Settle();
    if (frame.back() != maint::kCradleEnd) {
        m_host.Error("cradle frame ends with " + Hex(frame.back()) + ", expected " +
                     Hex(maint::kCradleEnd));
        return;
    }
    m_host.Frame("cradle " + Text(frame.begin() + 1, frame.end() - 1));
}

void MaintenanceProtocol::Pause() {
    if (!Holding()) {
        return;
    }
    if (m_lead != maint::kRawLead) {
        Drop();
        return;
    }
    // The text may hold the end byte itself: only the pause tells where the frame ends.
    const std::vector<std::uint8_t> frame = std::exchange(m_body, {});
    m_lead = 0;
    if (frame.size() < 2 || frame.back() != maint::kRawEnd) {
        m_host.Error("raw frame ends with " + Hex(frame.back()) + ", expected " +
                     Hex(maint::kRawEnd));
        return;
    }
    if (frame.size() - 2 > maint::kRawTextMax) {
        m_host.Error("raw text of " + std::to_string(frame.size() - 2) + " characters, at most " +
                     std::to_string(maint::kRawTextMax));
        return;
    }
    m_host.Frame("raw " + Text(frame.begin() + 1, frame.end() - 1));
}

// Forgets the frame held; one begun and not finished is reported.
void MaintenanceProtocol::Drop() {
    if (Holding()) {
        m_host.Error(std::string(FrameName(m_lead)) + " frame cut short: " + HexBytes(m_body));
    }
    m_lead = 0;
    m_body.clear();
}

}  // namespace tarvik::sim
