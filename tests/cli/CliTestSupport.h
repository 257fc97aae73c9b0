#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/TempDir.h"

// What the command line's tests share on every system: captured streams and their lines.
namespace tarvik::test {

using Strings = std::vector<std::string>;

inline std::string FileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
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

// What a run came to, of the program or of a board fed by hand: its exit status and streams.
struct Ran {
    int exit;
    std::string out;
    std::string err;
    bool operator==(const Ran&) const = default;
    friend std::ostream& operator<<(std::ostream& os, const Ran& r) {
        return os << "exit " << r.exit << "\n" << r.out << "\n--\n" << r.err;
    }
};

// A FILE* for a view or board to print to, and what was printed so far: a file in binary
// mode, so that Windows' C runtime writes each "\n" as it is.
class StreamCapture {
public:
    ~StreamCapture() { std::fclose(m_file); }
    std::FILE* File() const { return m_file; }
    std::string Text() const {
        std::fflush(m_file);
        return FileText(m_dir.Path() / "stream");
    }

private:
    TempDir m_dir;
#ifdef _WIN32
    std::FILE* m_file = _wfopen((m_dir.Path() / "stream").c_str(), L"wb");
#else
    std::FILE* m_file = std::fopen((m_dir.Path() / "stream").c_str(), "wb");
#endif
};

}  // namespace tarvik::test
