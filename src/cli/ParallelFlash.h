#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/FlashOptions.h"
#include "cli/PortBoard.h"

namespace tarvik::cli {

// The arguments (after argv[0]) of the child that flashes `port`: the same options with
// exactly that port, --json, and a trace of its own.
std::vector<std::string> ChildArguments(const FlashOptions& options, const std::string& port);

// FILE.<port>, with each '/' of the port as '_': /dev/ttyUSB0 gives FILE._dev_ttyUSB0.
std::filesystem::path TraceFileForPort(const std::filesystem::path& trace, const std::string& port);

// Flashes every port of `options` at once, one child process (this program again) a port,
// and shows their progress and a summary; the exit status of the whole run. Ctrl+C is passed
// on to every child, which then gets a generous while to end its run before it is killed.
int FlashInParallel(const FlashOptions& options, const std::string& argv0);

// The same run with `program` as each port's child (given `argv0` as its argv[0]), shown in
// `mode` on `out` and `err`.
int FlashInParallel(const FlashOptions& options, const std::filesystem::path& program,
                    const std::string& argv0, BoardMode mode, std::FILE* out, std::FILE* err,
                    int columns);

// What each system gives the run: the running program's own file, and the width of the
// terminal standard output goes to (80 when it cannot tell).
std::filesystem::path OwnProgram();
int TerminalColumns();

}  // namespace tarvik::cli
