#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "cli/FlashOptions.h"

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

}  // namespace tarvik::cli
