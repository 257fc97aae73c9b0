#include "app/ProgramPath.h"

#include <system_error>

namespace tarvik {

std::filesystem::path ProgramPath() {
    std::error_code ec;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : program;
}

}  // namespace tarvik
