#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace tarvik {

// Where COM1 to COM9 live on this machine. In order: TARVIK_COMn in the environment (for
// example TARVIK_COM3=/dev/ttyUSB0); a "COMn=/dev/..." line in
// $XDG_CONFIG_HOME/tarvik/ports.conf (default ~/.config/tarvik/ports.conf); /dev/ttyS(n-1).
// On Windows: TARVIK_COMn, then the system's own name "COMn"; no file.
// Index 0 is the USB entry and names no serial port.
class PortNames {
public:
    using Environment = std::function<std::optional<std::string>(const std::string&)>;

    // The process's own environment.
    PortNames();
    explicit PortNames(Environment environment);

    // The device of port index n (1 to 9), or nothing.
    std::optional<std::filesystem::path> Resolve(int n) const;

    // Puts COMn on `device` for this process (the command line's device paths, the
    // simulated loader); wins over every other source.
    void Override(int n, std::filesystem::path device);

    // The file that maps ports, whether or not it exists.
    std::filesystem::path ConfigFile() const;

private:
    Environment m_environment;
    std::map<int, std::filesystem::path> m_overrides;
};

}  // namespace tarvik
