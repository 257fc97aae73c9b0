#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tarvik::test {

// A fresh folder under the system's temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path Write(const std::string& name, const std::vector<std::uint8_t>& bytes);
    std::vector<std::uint8_t> Read(const std::string& name) const;
    // Every file name in the folder, sorted.
    std::vector<std::string> Names() const;

private:
    std::filesystem::path m_path;
};

// Bytes that tell their own offset, so a misplaced byte shows.
std::vector<std::uint8_t> PatternBytes(std::size_t size, unsigned seed = 1);

}  // namespace tarvik::test
