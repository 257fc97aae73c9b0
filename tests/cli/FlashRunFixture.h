#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace tarvik::test {

// Runs the real tarvik-flash in a fresh folder. COM1 to COM9 always resolve to paths in that
// folder that do not exist, so no run can ever reach this machine's /dev/ttyS*.
class FlashRunFixture : public ::testing::Test {
protected:
    ChildProcess Start(const std::vector<std::string>& args,
                       std::vector<std::string> environment = {}) {
        std::vector<std::string> ports;
        for (int n = 1; n <= 9; ++n) {
            ports.push_back("TARVIK_COM" + std::to_string(n) + "=" +
                            Path("no-device-com" + std::to_string(n)));
        }
        for (auto& entry : environment) {
            ports.push_back(std::move(entry));  // later entries win
        }
        return ChildProcess(TARVIK_FLASH, args, m_dir.Path(), ports);
    }
    std::string Path(const std::string& name) const { return (m_dir.Path() / name).string(); }

    using Json = nlohmann::json;

    // Every line of `text` as a JSON object; fails the test on any line that is not one.
    static std::vector<Json> JsonLines(const std::string& text) {
        std::vector<Json> objects;
        EXPECT_TRUE(text.empty() || text.back() == '\n') << "a line cut short:\n" << text;
        for (std::size_t start = 0; start < text.size();) {
            const std::size_t end = text.find('\n', start);
            const std::string line = text.substr(start, end - start);
            Json value = Json::parse(line, nullptr, false);
            EXPECT_TRUE(value.is_object()) << line;
            if (value.is_object()) {
                objects.push_back(std::move(value));
            }
            start = end == std::string::npos ? text.size() : end + 1;
        }
        return objects;
    }

    // The events of one kind, for one port ("" for any).
    static std::vector<Json> Events(const std::vector<Json>& events, const std::string& kind,
                                    const std::string& port = "") {
        std::vector<Json> chosen;
        for (const auto& event : events) {
            if (event.value("event", "") == kind &&
                (port.empty() || event.value("port", "") == port)) {
                chosen.push_back(event);
            }
        }
        return chosen;
    }

    TempDir m_dir;
};

}  // namespace tarvik::test
