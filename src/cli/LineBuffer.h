#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik::cli {

// Bytes from a pipe, handed out as whole lines. A line longer than the limit is cut there
// (a child never prints one; this only bounds what a broken one can make us hold). What is
// left when the pipe ends is a line cut short and is dropped.
class LineBuffer {
public:
    static constexpr std::size_t kMaxLine = 64 * 1024;

    // The lines completed by `bytes`, without their newlines.
    std::vector<std::string> Take(std::string_view bytes) {
        std::vector<std::string> lines;
        for (const char c : bytes) {
            if (c == '\n') {
                lines.push_back(std::move(m_partial));
                m_partial.clear();
            } else if (m_partial.size() < kMaxLine) {
                m_partial += c;
            }
        }
        return lines;
    }

    // An unfinished line is waiting.
    bool HasPartial() const { return !m_partial.empty(); }

private:
    std::string m_partial;
};

}  // namespace tarvik::cli
