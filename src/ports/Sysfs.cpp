#include "ports/Sysfs.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>

namespace tarvik::ports::sysfs {
namespace {

// sysfs attributes are a line or two; anything longer is not one we understand.
constexpr std::size_t kMaxAttribute = 4096;
// Device trees are a dozen levels deep at most; the bound only keeps a looping tree finite.
constexpr int kMaxWalk = 32;

}  // namespace

// The text of one sysfs attribute without its trailing line break; nothing when it is not
// there or cannot be read.
std::optional<std::string> ReadAttribute(const fs::path& file) {
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) {
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string text(kMaxAttribute, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) {
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(in.gcount()));
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())) != 0) {
        text.pop_back();
    }
    return text;
}

std::optional<std::uint32_t> ParseHex(std::string_view text) {
    std::uint32_t value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, 16);
    if (text.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint16_t> ParseHex16(std::string_view text) {
    const auto value = ParseHex(text);
    if (!value || *value > 0xFFFF) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(*value);
}

std::optional<std::uint16_t> ReadHex16(const fs::path& file) {
    const auto text = ReadAttribute(file);
    return text ? ParseHex16(*text) : std::nullopt;
}

std::string ReadText(const fs::path& file) {
    return ReadAttribute(file).value_or(std::string());
}

// Where `link` leads with every symbolic link followed; nothing when it leads nowhere.
std::optional<fs::path> Resolved(const fs::path& link) {
    std::error_code ec;
    fs::path target = fs::canonical(link, ec);
    if (ec) {
        return std::nullopt;
    }
    return target;
}

// The nearest folder from `dir` up that holds every one of `files`, not above `top`.
std::optional<fs::path> AncestorWith(fs::path dir, const fs::path& top,
                                     std::initializer_list<const char*> files) {
    for (int level = 0; level < kMaxWalk; ++level) {
        const bool all = std::all_of(files.begin(), files.end(), [&](const char* file) {
            std::error_code ec;
            return fs::exists(dir / file, ec);
        });
        if (all) {
            return dir;
        }
        if (dir == top || !dir.has_relative_path()) {
            break;
        }
        dir = dir.parent_path();
    }
    return std::nullopt;
}

// The driver bound to `dir`. Since Linux 6.5 the serial core hangs a port and a controller
// device of its own (bus serial-base, drivers "port" and "ctrl") between a UART's tty and
// the UART's device; the driver worth naming is the one above them.
std::string DriverOf(fs::path dir, const fs::path& top) {
    for (int level = 0; level < kMaxWalk; ++level) {
        std::error_code ec;
        const fs::path target = fs::read_symlink(dir / "driver", ec);
        if (ec) {
            return {};
        }
        if (target.parent_path().parent_path().filename() != "serial-base") {
            return target.filename().string();
        }
        if (dir == top || !dir.has_relative_path()) {
            break;
        }
        dir = dir.parent_path();
    }
    return {};
}

std::optional<UsbIdentity> UsbIdentityOf(const fs::path& device, const fs::path& top) {
    const auto usb = AncestorWith(device, top, {"idVendor", "idProduct"});
    if (!usb) {
        return std::nullopt;
    }
    const auto vendor = ReadHex16(*usb / "idVendor");
    const auto product = ReadHex16(*usb / "idProduct");
    if (!vendor || !product) {
        return std::nullopt;
    }
    return UsbIdentity{*vendor, *product, ReadText(*usb / "product"),
                       ReadText(*usb / "manufacturer"), ReadText(*usb / "serial")};
}

// --- order -------------------------------------------------------------------------------

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Runs of digits compare as numbers, so ttyS2 comes before ttyS10.
bool NaturalLess(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            std::size_t iEnd = i;
            std::size_t jEnd = j;
            while (iEnd < a.size() && IsDigit(a[iEnd])) {
                ++iEnd;
            }
            while (jEnd < b.size() && IsDigit(b[jEnd])) {
                ++jEnd;
            }
            std::string_view x = a.substr(i, iEnd - i);
            std::string_view y = b.substr(j, jEnd - j);
            x.remove_prefix(std::min(x.find_first_not_of('0'), x.size()));
            y.remove_prefix(std::min(y.find_first_not_of('0'), y.size()));
            if (x.size() != y.size()) {
                return x.size() < y.size();
            }
            if (x != y) {
                return x < y;
            }
            i = iEnd;
            j = jEnd;
        } else {
            if (a[i] != b[j]) {
                return a[i] < b[j];
            }
            ++i;
            ++j;
        }
    }
    return i == a.size() && j != b.size();
}

// A total order: names equal as numbers ("ttyS01", "ttyS1") still sort the same every time.
bool StableNaturalLess(const std::string& a, const std::string& b) {
    if (NaturalLess(a, b)) {
        return true;
    }
    return !NaturalLess(b, a) && a < b;
}

fs::path Normal(const fs::path& path) {
    fs::path normal = path.lexically_normal();
    if (!normal.has_filename() && normal.has_relative_path()) {
        normal = normal.parent_path();
    }
    return normal;
}

}  // namespace tarvik::ports::sysfs
