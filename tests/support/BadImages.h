#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace tarvik::test {

// Raw images `fw.bin` that no download may start with, each with the words its message
// must hold. Run refuses them before any device is woken or opened.
struct BadImage {
    const char* what;
    std::function<void(TempDir&)> make;
    const char* told;
};

inline std::vector<BadImage> BadImages() {
    namespace fs = std::filesystem;
    return {
        {"missing", [](TempDir&) {}, "fw.bin: No such file or directory."},
        {"a folder", [](TempDir& d) { fs::create_directory(d.Path() / "fw.bin"); },
         "fw.bin: Is a directory."},
        {"empty", [](TempDir& d) { d.Write("fw.bin", {}); }, "fw.bin is empty; nothing was sent."},
#ifndef _WIN32
        // A file that nobody may read, root included: a write-only sysfs attribute.
        {"unreadable",
         [](TempDir& d) { fs::create_symlink("/sys/bus/platform/uevent", d.Path() / "fw.bin"); },
         "fw.bin: Permission denied."},
#endif
        {"8193 blocks", [](TempDir& d) { fs::resize_file(d.Write("fw.bin", {1}), 8193 * 2048); },
         "at most 16777216 bytes (8192 blocks) can be sent."},
    };
}

}  // namespace tarvik::test
