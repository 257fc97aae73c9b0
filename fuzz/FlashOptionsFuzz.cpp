// Any command line of tarvik-flash: a usage error has a text and nothing else, and what is
// accepted is consistent: known ports, none twice, one firmware or one command.
#include <algorithm>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "cli/FlashOptions.h"

using namespace tarvik;
using namespace tarvik::cli;

// The arguments, separated by NUL bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.emplace_back();
        } else {
            args.back() += static_cast<char>(data[i]);
        }
    }
    if (size == 0) {
        args.clear();
    }
    // The port checks look at the first arguments only: each comparison lowers whole
    // texts, and a long line of separators would cost seconds.
    const std::size_t checked = std::min<std::size_t>(args.size(), 6);
    for (std::size_t i = 0; i < checked; ++i) {
        const auto port = ParsePort(args[i]);
        fuzz::Check(!port || (port->index >= 0 && port->index <= 9), "a port index out of range");
        fuzz::Check(SamePort(args[i], args[i]), "a port that is not itself");
        for (std::size_t j = 0; j < i; ++j) {
            fuzz::Check(SamePort(args[i], args[j]) == SamePort(args[j], args[i]),
                        "SamePort is not symmetric");
        }
    }

    std::string error;
    const auto options = ParseFlashOptions(args, error);
    if (!options) {
        fuzz::Check(!error.empty(), "a refusal without a reason");
        return 0;
    }
    if (options->action != FlashOptions::Action::Flash) {
        return 0;
    }
    fuzz::Check(!options->ports.empty(), "no port after parsing");
    fuzz::Check(!(options->quiet && options->json), "--quiet with --json accepted");
    for (std::size_t i = 0; i < options->ports.size(); ++i) {
        fuzz::Check(ParsePort(options->ports[i]).has_value(), "an unknown port accepted");
        for (std::size_t j = 0; j < i; ++j) {
            fuzz::Check(!SamePort(options->ports[i], options->ports[j]), "a port given twice");
        }
    }
    if (options->command) {
        fuzz::Check(options->ports.size() == 1, "a command to several ports");
        fuzz::Check(options->firmware.empty(), "a command with a firmware");
    } else if (!options->demo) {
        fuzz::Check(
            !options->firmware.empty() || std::find(args.begin(), args.end(), "") != args.end(),
            "a download without a firmware");
    }
    return 0;
}
