#pragma once

#include <algorithm>
#include <nlohmann/json.hpp>
#include <regex>

#include "cli/CliTestSupport.h"
#include "support/ChildProcess.h"

// Runs of the real tarvik-flash as a child process, and the JSON lines it prints.
namespace tarvik::test {

using Json = nlohmann::json;

// `text` with every decimal number as "#": the times and rates no test can know.
inline std::string Timeless(const std::string& text) {
    return std::regex_replace(text, std::regex(R"(\d+\.\d+)"), "#");
}

// Every line of `text` as JSON; fails the test on any line that is not an object.
inline std::vector<Json> JsonLines(const std::string& text) {
    EXPECT_TRUE(text.empty() || text.back() == '\n') << "a line cut short:\n" << text;
    std::vector<Json> objects;
    for (const std::string& line : Lines(text)) {
        objects.push_back(Json::parse(line, nullptr, false));
        EXPECT_TRUE(objects.back().is_object()) << line;
    }
    return objects;
}

// The events of one kind, for one port ("" for any).
inline std::vector<Json> Events(const std::vector<Json>& events, const std::string& kind,
                                const std::string& port = "") {
    std::vector<Json> chosen;
    std::ranges::copy_if(events, std::back_inserter(chosen), [&](const Json& e) {
        return e.value("event", "") == kind && (port.empty() || e.value("port", "") == port);
    });
    return chosen;
}

// Runs the real tarvik-flash in a fresh folder. COM1 to COM9 always resolve to paths in that
// folder that do not exist, so no run can ever reach this machine's /dev/ttyS*.
class FlashRunFixture : public ::testing::Test {
protected:
    ChildProcess Start(const Strings& args, Strings environment = {}) {
        for (int n = 1; n <= 9; ++n) {  // before `environment`, whose entries win
            environment.insert(environment.begin(), "TARVIK_COM" + std::to_string(n) + "=" +
                                                        Path("no-device-com" + std::to_string(n)));
        }
        return ChildProcess(TARVIK_FLASH, args, m_dir.Path(), environment);
    }
    std::string Path(const std::string& name) const { return (m_dir.Path() / name).string(); }
    // A run to its end.
    Ran Run(const Strings& args, Strings environment = {}) {
        auto child = Start(args, std::move(environment));
        const int exit = child.Wait();
        return {exit, child.Out(), child.Err()};
    }

    TempDir m_dir;
};

}  // namespace tarvik::test
