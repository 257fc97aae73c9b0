#pragma once

#include <filesystem>

namespace tarvik {

// The running program's own file, wherever it was installed, moved or unpacked; empty when
// the system does not tell.
std::filesystem::path ProgramPath();

}  // namespace tarvik
