#include "cli/FlashSummary.h"

#include <algorithm>
#include <cstdio>

#include "cli/JsonText.h"

namespace tarvik::cli {
namespace {

constexpr std::size_t kMinPortColumn = 14;
constexpr std::size_t kResultColumn = 13;

std::string Padded(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
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
    std::string table = Padded("PORT", portColumn) + Padded("RESULT", kResultColumn) + "TIME\n";
    const auto flashed = std::count_if(ports.begin(), ports.end(), Succeeded);
    for (const PortState& port : ports) {
        const std::string time = Seconds(port.seconds, 1);
        table += Padded(port.port, portColumn) + Padded(ResultName(port.result), kResultColumn) +
                 std::string(timeWidth - time.size(), ' ') + time + " s";
        if (std::string failure = FirstFailure(port); !failure.empty()) {
            // A box of several lines still makes one row.
            std::replace(failure.begin(), failure.end(), '\n', ' ');
            table += "  " + failure;
        }
        table += '\n';
    }
    table +=
        std::to_string(flashed) + " of " + std::to_string(ports.size()) + " devices flashed.\n";
    return table;
}

std::string SummaryJson(const std::vector<PortState>& ports, int exitStatus) {
    std::string list = "[";
    for (const PortState& port : ports) {
        JsonObject entry;
        entry.AddString("port", port.port)
            .AddString("result", ResultName(port.result))
            .AddInt("exit", port.exitStatus)
            .AddFixed("seconds", port.seconds, 2);
        if (const std::string failure = FirstFailure(port); !failure.empty()) {
            entry.AddString("message", failure);
        }
        if (port.signal != 0) {
            entry.AddString("signal", SignalName(port.signal));
        }
        if (!port.errText.empty()) {
            entry.AddString("stderr", port.errText);
        }
        // Appended piece by piece: GCC 12 at -O3 takes `a + b + c` of strings for an
        // overlapping copy (-Wrestrict).
        if (list.size() > 1) {
            list += ',';
        }
        list += entry.Text();
    }
    list += "]";
    return JsonObject()
        .AddString("event", "summary")
        .AddRaw("ports", list)
        .AddInt("flashed", std::count_if(ports.begin(), ports.end(), Succeeded))
        .AddInt("total", static_cast<long long>(ports.size()))
        .AddInt("exit", exitStatus)
        .Text();
}

}  // namespace tarvik::cli
