#include "trace/WireTrace.h"

#include <cinttypes>

#include "image/StdioFile.h"
#include "image/Utf8Path.h"

namespace tarvik {
namespace {

// Bytes closer together than this belong to one burst on the wire and share a line.
constexpr auto kJoinGap = std::chrono::milliseconds(2);
constexpr std::size_t kBytesPerLine = 32;

std::string HexLine(const char* direction, std::span<const std::uint8_t> bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string body = direction;
    body.reserve(body.size() + 3 * bytes.size());
    for (const std::uint8_t b : bytes) {
        body += ' ';
        body += kHex[b >> 4];
        body += kHex[b & 0x0F];
    }
    return body;
}

}  // namespace

WireTrace::WireTrace(const std::string& file) : m_file(OpenStdioFile(PathFromUtf8(file), "a")) {}

WireTrace::~WireTrace() {
    std::lock_guard lock(m_lock);
    EndLine();
    if (m_file != nullptr) {
        std::fclose(m_file);
    }
}

void WireTrace::Note(const std::string& text) {
    std::lock_guard lock(m_lock);
    EndLine();
    Line(std::chrono::steady_clock::now(), text);
}

void WireTrace::Bytes(const char* direction, std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(m_lock);
    // Read under the lock: a time taken before waiting for it could be older than the line
    // another thread has just written.
    const auto now = std::chrono::steady_clock::now();
    for (const std::uint8_t b : bytes) {
        if (m_lineDirection != direction || now - m_lineLast > kJoinGap) {
            EndLine();
            m_lineDirection = direction;
            m_lineStart = now;
        }
        m_lineBytes.push_back(b);
        m_lineLast = now;
        if (m_lineBytes.size() == kBytesPerLine) {
            EndLine();
        }
    }
}

void WireTrace::Report(const char* direction, std::span<const std::uint8_t> report) {
    std::lock_guard lock(m_lock);
    const auto now = std::chrono::steady_clock::now();
    EndLine();
    Line(now, HexLine(direction, report));
}

void WireTrace::EndLine() {
    if (m_lineDirection.empty()) {
        return;
    }
    Line(m_lineStart, HexLine(m_lineDirection.c_str(), m_lineBytes));
    m_lineDirection.clear();
    m_lineBytes.clear();
}

void WireTrace::Line(std::chrono::steady_clock::time_point at, const std::string& body) {
    if (m_file == nullptr) {
        return;
    }
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(at - m_start).count();
    // One fprintf per line and a flush, so a reader of a live trace never sees half a line.
    std::fprintf(m_file, "%" PRId64 ".%03" PRId64 " %s\n", static_cast<std::int64_t>(us / 1000),
                 static_cast<std::int64_t>(us % 1000), body.c_str());
    std::fflush(m_file);
}

}  // namespace tarvik
