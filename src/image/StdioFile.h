#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

namespace tarvik {

struct StdioFileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
// A C stream closed on every way out.
using StdioFile = std::unique_ptr<std::FILE, StdioFileCloser>;

// Opens `path` as std::fopen does. On Windows by its wide name: a narrow one would be read in
// a code page, and a name outside it would not open.
inline std::FILE* OpenStdioFile(const std::filesystem::path& path, const char* mode) {
#ifdef _WIN32
    const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
    return ::_wfopen(path.c_str(), wideMode.c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

// The system's text for an error number, as the operator reads it.
inline std::string SystemReason(int error) {
    return std::generic_category().message(error);
}

// The stream's length in bytes; leaves the position at the end.
inline std::optional<std::uint64_t> StreamSize(std::FILE* f) {
    if (std::fseek(f, 0, SEEK_END) != 0) {
        return std::nullopt;
    }
    const long size = std::ftell(f);
    if (size < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(size);
}

}  // namespace tarvik
