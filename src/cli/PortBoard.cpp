#include "cli/PortBoard.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "cli/FlashSummary.h"
#include "cli/JsonView.h"

namespace tarvik::cli {
namespace {

constexpr int kBarWidth = 20;
constexpr std::size_t kMaxErrText = 64 * 1024;

// The lines of `text`, each prefixed with the port, for the error stream.
std::string Prefixed(const std::string& port, const std::string& text) {
    std::string lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.append(port).append(": ").append(text, start, end - start).append("\n");
        start = end + 1;
    }
    return lines;
}

bool IsJsonObject(std::string_view line) {
    return nlohmann::json::parse(line, nullptr, false).is_object();
}

}  // namespace

PortBoard::PortBoard(const std::vector<std::string>& ports, BoardMode mode, std::FILE* out,
                     std::FILE* err, int columns, TimeSource now)
    : m_shownStep(ports.size(), -1),
      m_rates(ports.size()),
      m_mode(mode),
      m_out(out),
      m_err(err),
      m_columns(columns),
      m_now(std::move(now)) {
    for (const std::string& port : ports) {
        PortState state;
        state.port = port;
        m_ports.push_back(state);
        m_portColumn = std::max(m_portColumn, port.size() + 2);
    }
}

void PortBoard::Write(std::FILE* stream, const std::string& text) {
    std::fputs(text.c_str(), stream);
    std::fflush(stream);
}

void PortBoard::ClearBlock() {
    if (m_drawnLines > 0) {
        Write(m_out, "\033[" + std::to_string(m_drawnLines) + "A\r\033[J");
        m_drawnLines = 0;
    }
    m_dirty = true;
}

// A line of text between the port lines: they are taken off the screen first and drawn
// again below it.
void PortBoard::Say(std::FILE* stream, const std::string& text) {
    if (m_mode == BoardMode::Terminal) {
        ClearBlock();
        Write(stream, text);
        Redraw();
    } else {
        Write(stream, text);
    }
}

void PortBoard::Started(std::size_t port, long pid) {
    m_ports[port].pid = pid;
    if (m_mode == BoardMode::Json) {
        Write(m_out,
              EventLine({{"event", "start"}, {"port", m_ports[port].port}, {"pid", pid}}) + "\n");
    }
}

void PortBoard::ShowMessage(const PortState& port, const PortMessage& message) {
    if (m_mode == BoardMode::Lines || m_mode == BoardMode::Terminal) {
        Say(m_err, Prefixed(port.port, message.caption + ": " + message.text));
    }
}

void PortBoard::TakeLine(std::size_t port, std::string_view line) {
    PortState& state = m_ports[port];
    const auto event = ParsePortEvent(line);
    if (m_mode == BoardMode::Json && (event || IsJsonObject(line))) {
        Write(m_out, std::string(line) + "\n");
    }
    if (!event) {
        return;  // not one of ours, or cut short when the child died
    }
    const std::string statusBefore = state.status;
    ApplyEvent(state, *event);
    m_dirty = true;
    switch (event->kind) {
        case PortEvent::Kind::Status:
            if (m_mode == BoardMode::Lines && state.status != statusBefore) {
                Say(m_out, state.port + ": " + state.status + "\n");
            }
            break;
        case PortEvent::Kind::Progress:
            if (event->blocks > 0) {
                m_rates[port].Block(event->block, event->blocks, event->bytes, m_now());
            }
            if (m_mode == BoardMode::Lines && state.percent / 10 > m_shownStep[port]) {
                m_shownStep[port] = state.percent / 10;
                Say(m_out, state.port + ": progress " + std::to_string(state.percent) + "%\n");
            }
            break;
        case PortEvent::Kind::Message:
            ShowMessage(state, state.messages.back());
            break;
        case PortEvent::Kind::Result:
            break;
    }
}

void PortBoard::TakeErr(std::size_t port, std::string_view bytes) {
    std::string& text = m_ports[port].errText;
    text.append(bytes.substr(0, kMaxErrText - std::min(kMaxErrText, text.size())));
}

void PortBoard::ShowEnd(const PortState& port) {
    const bool failed = port.result != FlashResult::Succeeded;
    std::string text;
    if (m_mode == BoardMode::Quiet) {
        for (const PortMessage& message : port.messages) {
            if (failed || message.failure) {
                text += Prefixed(port.port, message.caption + ": " + message.text);
            }
        }
    }
    if (failed && m_mode != BoardMode::Json) {
        text += Prefixed(port.port, port.errText);
    }
    if (!text.empty()) {
        Say(m_err, text);
    }
}

void PortBoard::Ended(std::size_t port, ChildEnd end, double seconds) {
    PortState& state = m_ports[port];
    ApplyEnd(state, end, seconds);
    m_dirty = true;
    if (m_mode == BoardMode::Json && !state.reported) {
        // A child that died before its result line still gets one.
        JsonEvent result =
            ResultEvent(state.port, state.result, state.exitStatus, state.seconds, state.bytes);
        if (state.signal != 0) {
            result["signal"] = SignalName(state.signal);
        }
        Write(m_out, EventLine(result) + "\n");
    }
    ShowEnd(state);
}

void PortBoard::NotStarted(std::size_t port, const std::string& why) {
    TakeLine(port, EventLine(CommandLineFailureEvent(m_ports[port].port, why)));
    Ended(port, ChildEnd{1, 0}, 0);
}

std::string PortBoard::TerminalLine(const PortState& port, std::size_t portColumn, int columns,
                                    const std::string& rate) {
    const int percent = std::clamp(port.percent, 0, 100);
    const auto filled = static_cast<std::size_t>(percent * kBarWidth / 100);
    // Appended piece by piece: GCC 12 at -O3 takes `a + b + c` of strings here for an
    // overlapping copy (-Wrestrict).
    std::string line = port.port;
    line.resize(std::max(portColumn, line.size() + 1), ' ');
    line.append("[").append(filled, '#').append(kBarWidth - filled, '.');
    char figure[8];
    std::snprintf(figure, sizeof figure, "] %3d%%", percent);
    line.append(figure).append("  ");
    if (port.ended) {
        line.append(ResultName(port.result));
        if (const std::string failure = FirstFailure(port); !failure.empty()) {
            line.append(": ").append(failure);
        }
    } else {
        if (!rate.empty()) {
            line.append(rate).append("  ");
        }
        line.append(port.status);
    }
    // Control characters would move the cursor under the redraw's feet.
    std::replace_if(
        line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, ' ');
    const std::size_t width = static_cast<std::size_t>(std::max(columns - 1, 1));
    if (line.size() > width) {
        std::size_t cut = width;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) {
            --cut;  // not inside a UTF-8 character
        }
        line.resize(cut);
    }
    return line;
}

void PortBoard::Redraw() {
    if (m_mode != BoardMode::Terminal || !m_dirty) {
        return;
    }
    std::string text;
    if (m_drawnLines > 0) {
        text += "\033[" + std::to_string(m_drawnLines) + "A";
    }
    for (std::size_t i = 0; i < m_ports.size(); ++i) {
        text.append("\r\033[K")
            .append(TerminalLine(m_ports[i], m_portColumn, m_columns, m_rates[i].RateText()))
            .append("\n");
    }
    Write(m_out, text);
    m_drawnLines = static_cast<int>(m_ports.size());
    m_dirty = false;
}

int PortBoard::Finish(bool interrupted) {
    const int exitStatus = ParallelExitStatus(m_ports, interrupted);
    switch (m_mode) {
        case BoardMode::Terminal:
            Redraw();
            Write(m_out, SummaryTable(m_ports));
            break;
        case BoardMode::Lines:
            Write(m_out, SummaryTable(m_ports));
            break;
        case BoardMode::Quiet:
            if (!AllSucceeded(m_ports)) {
                Write(m_out, SummaryTable(m_ports));
            }
            break;
        case BoardMode::Json:
            Write(m_out, SummaryJson(m_ports, exitStatus) + "\n");
            break;
    }
    return exitStatus;
}

}  // namespace tarvik::cli
