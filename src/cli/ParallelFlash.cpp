#include "cli/ParallelFlash.h"

#include <algorithm>

#include "cli/Utf8Path.h"

namespace tarvik::cli {

std::filesystem::path TraceFileForPort(const std::filesystem::path& trace,
                                       const std::string& port) {
    std::string suffix = port;
    std::replace(suffix.begin(), suffix.end(), '/', '_');
    return PathFromUtf8(Utf8(trace) + "." + suffix);
}

std::vector<std::string> ChildArguments(const FlashOptions& options, const std::string& port) {
    std::vector<std::string> args = {"--port", port, "--json"};
    if (options.simulate) {
        args.push_back("--simulate");
    }
    if (options.trace) {
        args.push_back("--trace");
        args.push_back(Utf8(TraceFileForPort(*options.trace, port)));
    }
    args.push_back(Utf8(options.firmware));
    return args;
}

}  // namespace tarvik::cli
