#include "cli/Console.h"

#include <unistd.h>

namespace tarvik::cli {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    // POSIX passes the bytes as they were given; UTF-8 on every system we run on.
    return std::vector<std::string>(argv, argv + argc);
}

void PrepareConsole() {}

bool OutputRedraws() {
    return ::isatty(STDOUT_FILENO) != 0;
}

}  // namespace tarvik::cli
