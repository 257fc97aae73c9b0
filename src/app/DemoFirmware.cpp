#include "app/DemoFirmware.h"

#include <system_error>

namespace tarvik {

std::filesystem::path DemoFirmware() {
    std::error_code ec;
    // The running program's own path; an installed tree may be moved or unpacked anywhere.
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::filesystem::path installed =
        program.parent_path().parent_path() / TARVIK_DEMO_FIRMWARE_INSTALLED;
    if (!ec && std::filesystem::is_regular_file(installed, ec)) {
        return installed;
    }
    const std::filesystem::path source = TARVIK_DEMO_FIRMWARE_SOURCE;
    if (std::filesystem::is_regular_file(source, ec)) {
        return source;
    }
    return installed;
}

}  // namespace tarvik
