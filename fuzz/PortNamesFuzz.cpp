// Any ports.conf text and any TARVIK_COMn value: every port in 1 to 9 resolves to a device,
// the environment wins over the file, a device from the file is a trimmed absolute path that
// the file holds, and an override wins over everything.
#include <cctype>
#include <map>
#include <string>

#include "FuzzSupport.h"
#include "serial/PortNames.h"

using namespace tarvik;

namespace {

bool TrimmedAbsolute(const std::string& text) {
    return !text.empty() && text.front() == '/' &&
           !std::isspace(static_cast<unsigned char>(text.back()));
}

}  // namespace

// The first byte names the TARVIK_COMn that is set (n = byte % 10, 0: none); the second says
// where the file is looked for (bit 0: an absolute XDG_CONFIG_HOME, bit 1: a relative one,
// bit 2: HOME). The variable's value runs to the first NUL; the file's text is the rest.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzz::ScratchFolder scratch;
    static const std::filesystem::path xdg = scratch.Path() / "xdg";
    static const std::filesystem::path home = scratch.Path() / "home";
    static const bool made = std::filesystem::create_directories(xdg / "tarvik") &&
                             std::filesystem::create_directories(home / ".config" / "tarvik");
    fuzz::Check(made, "cannot make the configuration folders");

    fuzz::InputReader input(data, size);
    const int variablePort = input.Byte() % 10;
    const std::uint8_t where = input.Byte();
    std::string value;
    for (std::uint8_t c = input.Byte(); c != 0; c = input.Byte()) {
        value += static_cast<char>(c);
    }
    const auto fileBytes = input.Rest();
    const std::string fileText(fileBytes.begin(), fileBytes.end());

    std::map<std::string, std::string> environment;
    if (variablePort != 0) {
        environment["TARVIK_COM" + std::to_string(variablePort)] = value;
    }
    if ((where & 1) != 0) {
        environment["XDG_CONFIG_HOME"] = xdg.string();
    } else if ((where & 2) != 0) {
        environment["XDG_CONFIG_HOME"] = "relative/config";
    }
    if ((where & 4) != 0) {
        environment["HOME"] = home.string();
    }
    std::filesystem::path file;
    if ((where & 1) != 0) {
        file = xdg / "tarvik" / "ports.conf";
    } else if ((where & 4) != 0) {
        file = home / ".config" / "tarvik" / "ports.conf";
    }
    if (!file.empty()) {
        fuzz::WriteFile(file, fileBytes);
    }

    PortNames names([&](const std::string& name) -> std::optional<std::string> {
        const auto it = environment.find(name);
        if (it == environment.end()) {
            return std::nullopt;
        }
        return it->second;
    });
    fuzz::Check(names.ConfigFile() == file, "the configuration file looked for in the wrong place");
    for (int n = -1; n <= 11; ++n) {
        const auto device = names.Resolve(n);
        if (n < 1 || n > 9) {
            fuzz::Check(!device, "a device for a port outside COM1 to COM9");
            continue;
        }
        fuzz::Check(device.has_value(), "no device for a port in COM1 to COM9");
        const std::string path = device->string();
        if (n == variablePort && !value.empty()) {
            fuzz::Check(path == value, "the environment did not win");
        } else if (path != "/dev/ttyS" + std::to_string(n - 1)) {
            fuzz::Check(!file.empty(), "a device from no source");
            fuzz::Check(TrimmedAbsolute(path), "a device from the file not trimmed or relative");
            fuzz::Check(path.find('#') == std::string::npos && path.find('\n') == std::string::npos,
                        "a comment or a line break in a device from the file");
            fuzz::Check(fileText.find(path) != std::string::npos,
                        "a device that the file does not hold");
        }
    }
    for (int n = 0; n <= 10; ++n) {
        names.Override(n, "/dev/override");
        const auto device = names.Resolve(n);
        fuzz::Check(device.has_value() == (n >= 1 && n <= 9), "an override outside COM1 to COM9");
        fuzz::Check(!device || *device == "/dev/override", "an override did not win");
    }
    return 0;
}
