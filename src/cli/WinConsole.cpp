#include "cli/Console.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>

namespace tarvik::cli {
namespace {

// Longer than any line the program prints, so that a line reaches the console in one piece.
constexpr std::size_t kConsoleBuffer = 16 * 1024;

std::string Utf8FromWide(const wchar_t* wide) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return {};
    }
    std::string text(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), size, nullptr, nullptr);
    text.pop_back();  // the terminating NUL the call counts and writes
    return text;
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide) {
        // Out of memory at start-up: the ANSI arguments are better than none.
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> args;
    args.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        args.push_back(Utf8FromWide(wide[i]));
    }
    ::LocalFree(wide);
    return args;
}

void PrepareConsole() {
    ::SetConsoleOutputCP(CP_UTF8);
    // In text mode the C library converts what goes to a console from its locale's code
    // page, byte by byte, which turns each UTF-8 letter into two wrong ones; in binary mode
    // the bytes reach the console as they are. Written one at a time, though, a letter's
    // bytes would reach it apart, so the stream is buffered: every view flushes after each
    // line it prints. Files and pipes keep text mode and get their bytes unchanged anyway.
    for (std::FILE* stream : {stdout, stderr}) {
        const int fd = ::_fileno(stream);
        DWORD mode = 0;
        if (::GetConsoleMode(reinterpret_cast<HANDLE>(::_get_osfhandle(fd)), &mode)) {
            std::fflush(stream);
            ::_setmode(fd, _O_BINARY);
            std::setvbuf(stream, nullptr, _IOFBF, kConsoleBuffer);
        }
    }
}

bool OutputRedraws() {
    // A console (not a pipe, not a file) that interprets the escape sequences the bar uses;
    // the consoles of Windows 10 and later do once asked to.
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == INVALID_HANDLE_VALUE || !::GetConsoleMode(out, &mode)) {
        return false;
    }
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           ::SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace tarvik::cli
