#include "cli/FlashSummary.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/JsonView.h"

namespace tarvik::cli {
namespace {

constexpr std::size_t kMinPortColumn = 14;
constexpr std::size_t kResultColumn = 13;

// Appends `text`, filled with spaces to `width`. The table is appended piece by piece: GCC 12
// at -O3 takes `a + b + c` of strings for an overlapping copy (-Wrestrict).
void AppendPadded(std::string& line, const std::string& text, std::size_t width) {
    line.append(text);
    line.append(width - std::min(width, text.size()), ' ');
}

std::string Seconds(double seconds, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, seconds);
    return text;
}

bool Succeeded(const PortState& port) {
    return port.ended && port.result == FlashResult::Succeeded && port.exitStatus == 0;
}

}  // namespace

bool AllSucceeded(const std::vector<PortState>& ports) {
    return std::all_of(ports.begin(), ports.end(), Succeeded);
}

int ParallelExitStatus(const std::vector<PortState>& ports, bool interrupted) {
    if (interrupted) {
        return 130;
    }
    return AllSucceeded(ports) ? 0 : 1;
}

std::string SummaryTable(const std::vector<PortState>& ports) {
    std::size_t portColumn = kMinPortColumn;
    std::size_t timeWidth = 4;
    for (const PortState& port : ports) {
        portColumn = std::max(portColumn, port.port.size() + 2);
        timeWidth = std::max(timeWidth, Seconds(port.seconds, 1).size());
    }
    std::string table;
    AppendPadded(table, "PORT", portColumn);
    AppendPadded(table, "RESULT", kResultColumn);
    table.append("TIME\n");
    const auto flashed = std::count_if(ports.begin(), ports.end(), Succeeded);
    for (const PortState& port : ports) {
        const std::string time = Seconds(port.seconds, 1);
        AppendPadded(table, port.port, portColumn);
        AppendPadded(table, ResultName(port.result), kResultColumn);
        table.append(timeWidth - time.size(), ' ').append(time).append(" s");
        if (std::string failure = FirstFailure(port); !failure.empty()) {
            // A box of several lines still makes one row.
            std::replace(failure.begin(), failure.end(), '\n', ' ');
            table.append("  ").append(failure);
        }
        table += '\n';
    }
    table.append(std::to_string(flashed)).append(" of ").append(std::to_string(ports.size()));
    table.append(" devices flashed.\n");
    return table;
}

std::string SummaryJson(const std::vector<PortState>& ports, int exitStatus) {
    JsonEvent list = JsonEvent::array();
    for (const PortState& port : ports) {
        JsonEvent entry = {{"port", port.port},
                           {"result", ResultName(port.result)},
                           {"exit", port.exitStatus},
                           {"seconds", Hundredths(port.seconds)}};
        if (const std::string failure = FirstFailure(port); !failure.empty()) {
            entry["message"] = failure;
        }
        if (port.signal != 0) {
            entry["signal"] = SignalName(port.signal);
        }
        if (!port.errText.empty()) {
            entry["stderr"] = port.errText;
        }
        list.push_back(std::move(entry));
    }
    return EventLine({{"event", "summary"},
                      {"ports", std::move(list)},
                      {"flashed", std::count_if(ports.begin(), ports.end(), Succeeded)},
                      {"total", ports.size()},
                      {"exit", exitStatus}});
}

}  // namespace tarvik::cli
