#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

// What the command line's tests share: captured streams, lines, and runs of the real program.
namespace tarvik::test {

using Json = nlohmann::json;
using Strings = std::vector<std::string>;

// A FILE* for a view or board to print to, and what was printed so far.
class StreamCapture {
public:
    ~StreamCapture() {
        std::fclose(m_file);
        std::free(m_buffer);
    }
    std::FILE* File() const { return m_file; }
    std::string Text() const {
        std::fflush(m_file);
        return std::string(m_buffer, m_size);
    }

private:
    char* m_buffer = nullptr;  // before m_file: open_memstream sets both
    std::size_t m_size = 0;
    std::FILE* m_file = open_memstream(&m_buffer, &m_size);
};

inline std::string FileText(const std::filesystem::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline Strings Lines(const std::string& text) {
    std::istringstream in(text);
    Strings lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

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
    for (const Json& e : events) {
        if (e.value("event", "") == kind && (port.empty() || e.value("port", "") == port)) {
            chosen.push_back(e);
        }
    }
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
    // A run to its end: exit status, standard output and standard error.
    struct Ran {
        int exit;
        std::string out;
        std::string err;
        bool operator==(const Ran&) const = default;
        friend std::ostream& operator<<(std::ostream& os, const Ran& r) {
            return os << "exit " << r.exit << "\n" << r.out << "\n--\n" << r.err;
        }
    };
    Ran Run(const Strings& args, Strings environment = {}) {
        auto child = Start(args, std::move(environment));
        const int exit = child.Wait();
        return {exit, child.Out(), child.Err()};
    }

    TempDir m_dir;
};

}  // namespace tarvik::test
