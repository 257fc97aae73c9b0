#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tarvik::test {

// A wire trace's lines without their time stamps; a line with a bad stamp keeps it, so that
// a comparison with the expected lines fails.
std::vector<std::string> TraceLines(const std::filesystem::path& file);

}  // namespace tarvik::test
