#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarvik::cli {

// What `tarvik-flash` was asked to do.
struct FlashOptions {
    enum class Action { Flash, Help, Version, List };
    Action action = Action::Flash;
    // "usb", "COM1".."COM9", or device paths, as given; never empty after parsing (usb
    // when none is given). More than one: the devices are flashed in parallel.
    std::vector<std::string> ports;
    std::optional<std::filesystem::path> trace;
    std::filesystem::path firmware;
    bool simulate = false;  // against the simulated loader
    bool demo = false;      // simulate, with the firmware shipped for the demo
    bool quiet = false;     // failures only
    bool json = false;      // one JSON object per line for each event
    // A maintenance command instead of a download: its name and, for some, its text.
    std::optional<std::string> command;
    std::string commandText;
};

// The maintenance commands by name, and whether each takes a text.
struct MaintenanceCommand {
    const char* name;
    bool takesText;
};
extern const std::vector<MaintenanceCommand> kMaintenanceCommands;

// The port's index in the port list (0 = USB, n = COMn) and, for a device path, the device.
struct PortChoice {
    int index = 0;
    std::optional<std::filesystem::path> device;
};

// Parses the arguments (without the program name); the error text on a usage error.
std::optional<FlashOptions> ParseFlashOptions(const std::vector<std::string>& args,
                                              std::string& error);

// "usb", "COMn" (any case) or a path; nothing for anything else.
std::optional<PortChoice> ParsePort(const std::string& port);

// Whether two ports as given name the same port: usb and COMn in any case, paths as written.
bool SamePort(const std::string& a, const std::string& b);

extern const char* const kFlashUsage;

// The exit status of a usage error, and what it prints on the error stream: the error, then
// where to find the usage.
inline constexpr int kExitUsage = 2;
std::string UsageErrorText(const std::string& error);

}  // namespace tarvik::cli
