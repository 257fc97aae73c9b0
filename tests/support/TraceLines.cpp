#include "support/TraceLines.h"

#include <fstream>
#include <regex>

namespace tarvik::test {

std::vector<std::string> TraceLines(const std::filesystem::path& file) {
    const std::regex stamp(R"(^\d+\.\d{3} )");
    std::vector<std::string> bodies;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        bodies.push_back(std::regex_replace(line, stamp, ""));
    }
    return bodies;
}

}  // namespace tarvik::test
