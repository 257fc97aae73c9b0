#include "image/FirmwareFiles.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "image/Utf8Path.h"

namespace tarvik {
namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

}  // namespace

bool EqualsNoCase(const std::string& a, const std::string& b) {
    return Lower(a) == Lower(b);
}

FirmwareFile FirmwareFileFromPath(const std::filesystem::path& chosen) {
    const std::string name = Utf8(chosen.filename());
    const auto dot = name.rfind('.');
    FirmwareFile file;
    file.folder = chosen.parent_path();
    file.title = dot == std::string::npos ? name : name.substr(0, dot);
    file.ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    return file;
}

std::optional<std::filesystem::path> FindFirmwareVariant(const FirmwareFile& file,
                                                         const std::string& ext) {
    const std::filesystem::path folder = file.Folder();
    std::vector<std::string> preferred;
    if (EqualsNoCase(file.ext, ext)) {
        preferred.push_back(file.ext);
    }
    preferred.push_back(Lower(ext));
    preferred.push_back(Upper(ext));
    for (const auto& candidate : preferred) {
        std::error_code ec;
        const auto path = folder / PathFromUtf8(file.title + "." + candidate);
        if (std::filesystem::is_regular_file(path, ec)) {
            return path;
        }
    }

    const std::string prefix = file.title + ".";
    std::vector<std::string> others;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), last; !ec && it != last;
         it.increment(ec)) {
        const std::string name = Utf8(it->path().filename());
        if (name.size() == prefix.size() + ext.size() && name.starts_with(prefix) &&
            EqualsNoCase(name.substr(prefix.size()), ext) && it->is_regular_file(ec)) {
            others.push_back(name);
        }
    }
    if (others.empty()) {
        return std::nullopt;
    }
    std::sort(others.begin(), others.end());
    return folder / PathFromUtf8(others.front());
}

}  // namespace tarvik
