#include "serial/PortNames.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>

#include "image/Utf8Path.h"

#ifdef _WIN32
#include <cstdlib>
#include <cwchar>
#endif

namespace tarvik {
namespace {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 9;

std::string Trim(const std::string& text) {
    const auto isSpace = [](unsigned char c) { return std::isspace(c) != 0; };
    const auto first = std::find_if_not(text.begin(), text.end(), isSpace);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), isSpace).base();
    return first < last ? std::string(first, last) : std::string();
}

// The port index of a "COMn" key in any case, or 0 when the key is something else.
int PortOfKey(const std::string& key) {
    if (key.size() != 4 || std::toupper(static_cast<unsigned char>(key[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(key[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(key[2])) != 'M' || key[3] < '0' || key[3] > '9') {
        return 0;
    }
    return key[3] - '0';
}

// The device the file maps port `n` to. A later line for the same port wins, as it does
// in most files of this kind; lines we cannot read are passed over, not fatal, so one typo
// does not take every port away.
std::optional<std::filesystem::path> FromFile(const std::filesystem::path& file, int n) {
    std::ifstream in(file);
    std::optional<std::filesystem::path> device;
    std::string line;
    while (std::getline(in, line)) {
        line = line.substr(0, line.find('#'));
        const auto equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        const std::string value = Trim(line.substr(equals + 1));
        if (PortOfKey(Trim(line.substr(0, equals))) == n && value.starts_with('/')) {
            device = value;
        }
    }
    return device;
}

// A value of the environment, UTF-8 as every text inside the tool; on Windows read wide,
// since the narrow environment holds the values in the system's code page.
std::optional<std::string> EnvironmentValue(const std::string& name) {
#ifdef _WIN32
    const std::wstring wideName(name.begin(), name.end());  // our names are ASCII
    const wchar_t* value = ::_wgetenv(wideName.c_str());
    if (value == nullptr) {
        return std::nullopt;
    }
    return Utf8(std::filesystem::path(value));
#else
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
#endif
}

}  // namespace

PortNames::PortNames() : PortNames(EnvironmentValue) {}

PortNames::PortNames(Environment environment) : m_environment(std::move(environment)) {}

std::optional<std::filesystem::path> PortNames::Resolve(int n) const {
    if (n < kFirstPort || n > kLastPort) {
        return std::nullopt;
    }
    if (const auto it = m_overrides.find(n); it != m_overrides.end()) {
        return it->second;
    }
    const auto variable = m_environment("TARVIK_COM" + std::to_string(n));
    if (variable && !variable->empty()) {
        return PathFromUtf8(*variable);
    }
    if (const auto file = ConfigFile(); !file.empty()) {
        if (auto device = FromFile(file, n)) {
            return device;
        }
    }
#ifdef _WIN32
    // The system's own name, which CreateFile takes as it is for COM1 to COM9.
    return std::filesystem::path("COM" + std::to_string(n));
#else
    return std::filesystem::path("/dev/ttyS" + std::to_string(n - 1));
#endif
}

void PortNames::Override(int n, std::filesystem::path device) {
    if (n >= kFirstPort && n <= kLastPort) {
        m_overrides[n] = std::move(device);
    }
}

std::filesystem::path PortNames::ConfigFile() const {
#ifdef _WIN32
    // Windows names its ports itself, COM1 to COM9 as the operator knows them from the Device
    // Manager, so there is nothing to map; the environment still can, for tests.
    return {};
#else
    // A relative XDG_CONFIG_HOME is invalid and ignored, as the XDG rules say.
    const auto xdg = m_environment("XDG_CONFIG_HOME");
    if (xdg && std::filesystem::path(*xdg).is_absolute()) {
        return std::filesystem::path(*xdg) / "tarvik" / "ports.conf";
    }
    const auto home = m_environment("HOME");
    if (home && !home->empty()) {
        return std::filesystem::path(*home) / ".config" / "tarvik" / "ports.conf";
    }
    return {};
#endif
}

}  // namespace tarvik
