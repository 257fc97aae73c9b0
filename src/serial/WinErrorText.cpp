#include "serial/WinErrorText.h"

#include <cerrno>

namespace tarvik::win {

std::string SystemText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::string text;
    if (length > 0 && buffer != nullptr) {
        const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(length),
                                                nullptr, 0, nullptr, nullptr);
        if (bytes > 0) {
            text.resize(static_cast<std::size_t>(bytes));
            ::WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(length), text.data(), bytes,
                                  nullptr, nullptr);
        }
    }
    if (buffer != nullptr) {
        ::LocalFree(buffer);
    }
    while (!text.empty() && (text.back() == '.' || text.back() == ' ' || text.back() == '\r' ||
                             text.back() == '\n')) {
        text.pop_back();
    }
    return text.empty() ? "Windows error " + std::to_string(code) : text;
}

// A port that another program holds answers "access denied" (a file, "sharing violation"):
// the share mode 0 of its holder, never a permission of ours. What has no errno-style meaning
// keeps the system's words.
SerialOpenResult OpenFailureOf(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return OpenFailure(ENOENT, "does not exist");
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return OpenFailure(EBUSY, "held by another program");
        default: {
            const std::string text = SystemText(code);
            return {nullptr, {EIO, text, text}};
        }
    }
}

}  // namespace tarvik::win
