#include "app/ProgramPath.h"

#include <windows.h>

#include <string>

namespace tarvik {

std::filesystem::path ProgramPath() {
    // Wide, so that a folder named in any language comes back whole; the buffer grows until
    // the name fits (paths may be far longer than MAX_PATH).
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) {
            return {};
        }
        if (length < name.size()) {
            name.resize(length);
            return std::filesystem::path(name);
        }
        name.resize(name.size() * 2);
    }
}

}  // namespace tarvik
