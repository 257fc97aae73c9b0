#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

namespace tarvik::test {

// A FILE* for a view or board to print to, and what was printed so far.
class StreamCapture {
public:
    StreamCapture() : m_file(std::tmpfile()) {
        if (!m_file) {
            throw std::runtime_error("no temporary file");
        }
    }
    ~StreamCapture() { std::fclose(m_file); }
    StreamCapture(const StreamCapture&) = delete;
    StreamCapture& operator=(const StreamCapture&) = delete;

    std::FILE* File() const { return m_file; }

    std::string Text() const {
        std::fflush(m_file);
        const long end = std::ftell(m_file);
        std::string text(static_cast<std::size_t>(end), '\0');
        std::rewind(m_file);
        const std::size_t got = std::fread(text.data(), 1, text.size(), m_file);
        std::fseek(m_file, 0, SEEK_END);
        text.resize(got);
        return text;
    }

private:
    std::FILE* m_file;
};

}  // namespace tarvik::test
