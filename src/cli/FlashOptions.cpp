#include "cli/FlashOptions.h"

#include <algorithm>

#include "cli/Utf8Path.h"
#include "image/FirmwareFiles.h"

namespace tarvik::cli {

const std::vector<MaintenanceCommand> kMaintenanceCommands = {
    {"reset", false},  {"version", false}, {"query", false},  {"set-undiscover", false},
    {"cr02", false},   {"ke99", false},    {"ke01", false},   {"ke97", false},
    {"dash02", false}, {"text", true},     {"command", true}, {"cradle-id", true},
    {"raw", true},
};

const char* const kFlashUsage =
    R"(Usage: tarvik-flash [--port PORT]... [--trace FILE] [--simulate] [--quiet|--json]
                    FIRMWARE
       tarvik-flash --demo [--port PORT] [--trace FILE]
       tarvik-flash --port COMn [--trace FILE] [--simulate] COMMAND [TEXT]
       tarvik-flash --list

Flashes FIRMWARE into the device, or its cradle, through its boot loader.
FIRMWARE is a raw image (.bin) or an ELF executable (.out), which is converted into
a .bin beside it first. On a terminal the progress bar shows the blocks sent, the
rate and the time left; a download that went in whole ends with its size, time and
rate, such as: 262144 bytes in 23.1 s (11.1 KiB/s).

Options:
  --port PORT    usb (the default: the device's loader in USB boot mode), COM1 to
                 COM9, or a serial device path such as /dev/ttyUSB0. COMn resolves
                 through TARVIK_COMn, then the COMn= lines of
                 ~/.config/tarvik/ports.conf, then /dev/ttyS(n-1).
                 Given more than once, the devices are flashed in parallel, one
                 process per port: a progress line for each, then a summary.
  --trace FILE   append every byte on the wire to FILE, with times in milliseconds;
                 with several ports, to FILE.PORT for each port.
  --simulate     a simulated device behind usb and each COMn instead of a real one;
                 a device path is always opened as given.
  --demo         the demo firmware into a simulated device at real speed, over a
                 serial port (COM1, or the --port given), then over USB.
  --quiet        print only failures.
  --json         print one JSON object per line for each event: status, progress
                 (the percent, and after each acknowledged block its number, the
                 count of blocks and the bytes so far), message and result.
  --list         list the serial ports and the USB loaders of this machine, and the
                 COMn that resolve to them, without opening any.
  --help         show this text.
  --version      show the version.

Maintenance commands, sent at 9600 baud on a COM port instead of a download:
  reset, version, query, set-undiscover, cr02, ke99, ke01, ke97, dash02,
  text XXXX, command XXXX (four characters), cradle-id ID (twelve characters),
  raw TEXT (at most 254 characters).

Ctrl+C stops the search, or ends a download at once with nothing more sent;
a second Ctrl+C ends the program at once.
Exit status: 0 when the download finished on every port (or the command went out
and its reply, where one is expected, was accepted), 1 when any failed, 2 for a
usage error, 130 when stopped with Ctrl+C.
)";

std::string UsageErrorText(const std::string& error) {
    return "tarvik-flash: " + error + "\nTry 'tarvik-flash --help'.\n";
}

std::optional<PortChoice> ParsePort(const std::string& port) {
    if (EqualsNoCase(port, "usb")) {
        return PortChoice{0, std::nullopt};
    }
    if (port.size() == 4 && EqualsNoCase(port.substr(0, 3), "COM") && port[3] >= '1' &&
        port[3] <= '9') {
        return PortChoice{port[3] - '0', std::nullopt};
    }
    if (port.find('/') != std::string::npos) {
        return PortChoice{1, std::filesystem::path(port)};
    }
    return std::nullopt;
}

bool SamePort(const std::string& a, const std::string& b) {
    const auto first = ParsePort(a);
    const auto second = ParsePort(b);
    if (!first || !second) {
        return a == b;
    }
    if (first->device || second->device) {
        return first->device && second->device &&
               first->device->lexically_normal() == second->device->lexically_normal();
    }
    return first->index == second->index;
}

std::optional<FlashOptions> ParseFlashOptions(const std::vector<std::string>& args,
                                              std::string& error) {
    FlashOptions options;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&](const char* name) -> std::optional<std::string> {
            if (i + 1 >= args.size()) {
                error = std::string(name) + " needs a value";
                return std::nullopt;
            }
            return args[++i];
        };
        if (arg == "--help" || arg == "-h") {
            options.action = FlashOptions::Action::Help;
            return options;
        }
        if (arg == "--version") {
            options.action = FlashOptions::Action::Version;
            return options;
        }
        if (arg == "--list") {
            options.action = FlashOptions::Action::List;
            return options;
        }
        if (arg == "--port") {
            const auto port = value("--port");
            if (!port) {
                return std::nullopt;
            }
            if (!ParsePort(*port)) {
                error = "unknown port '" + *port + "': use usb, COM1 to COM9 or a device path";
                return std::nullopt;
            }
            for (const std::string& given : options.ports) {
                if (SamePort(given, *port)) {
                    error = *port + " is given twice";
                    return std::nullopt;
                }
            }
            options.ports.push_back(*port);
        } else if (arg == "--trace") {
            const auto file = value("--trace");
            if (!file) {
                return std::nullopt;
            }
            options.trace = PathFromUtf8(*file);
        } else if (arg == "--simulate") {
            options.simulate = true;
        } else if (arg == "--demo") {
            options.demo = true;
            options.simulate = true;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg.starts_with("-") && arg != "-") {
            error = "unknown option '" + arg + "'";
            return std::nullopt;
        } else {
            positional.push_back(arg);
        }
    }
    if (options.quiet && options.json) {
        error = "--quiet and --json do not go together: --json prints every event";
        return std::nullopt;
    }
    if (options.ports.empty()) {
        options.ports.push_back("usb");
    }
    const bool several = options.ports.size() > 1;
    const auto command = std::find_if(kMaintenanceCommands.begin(), kMaintenanceCommands.end(),
                                      [&](const MaintenanceCommand& c) {
                                          return !positional.empty() && positional[0] == c.name;
                                      });
    if (command != kMaintenanceCommands.end() && !options.demo) {
        if (several) {
            error = "a maintenance command goes to one port: give --port once";
            return std::nullopt;
        }
        if (positional.size() != (command->takesText ? 2u : 1u)) {
            error = std::string(command->name) +
                    (command->takesText ? " takes one text" : " takes no argument");
            return std::nullopt;
        }
        options.command = command->name;
        options.commandText = command->takesText ? positional[1] : std::string();
        return options;
    }
    if (options.demo && several) {
        error = "--demo shows one port: give --port once at most";
        return std::nullopt;
    }
    if (options.demo ? !positional.empty() : positional.size() != 1) {
        error = options.demo ? "--demo flashes its own firmware; give no FIRMWARE"
                             : "give exactly one FIRMWARE file";
        return std::nullopt;
    }
    if (!options.demo) {
        options.firmware = PathFromUtf8(positional.front());
    }
    return options;
}

}  // namespace tarvik::cli
