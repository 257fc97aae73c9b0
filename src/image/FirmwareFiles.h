#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tarvik {

// The firmware the operator chose: its folder, its name without the last extension, and
// that extension without the dot. Every file of a Run resolves in `folder`.
struct FirmwareFile {
    std::filesystem::path folder;
    std::string title;
    std::string ext;

    // The folder as given, or the current directory when none was chosen.
    std::filesystem::path Folder() const { return folder.empty() ? "." : folder; }
};

// Compares two ASCII texts without regard to case.
bool EqualsNoCase(const std::string& a, const std::string& b);

// Splits a chosen file's name into folder, title (cut before the last ".") and extension.
FirmwareFile FirmwareFileFromPath(const std::filesystem::path& chosen);

// Finds `title`.`ext` in the firmware's folder with the extension matched without regard to
// case. Preferred, in order: the extension the operator chose (when it matches), the
// lower-case form (what the conversion writes), the upper-case form, any other variant.
std::optional<std::filesystem::path> FindFirmwareVariant(const FirmwareFile& file,
                                                         const std::string& ext);

}  // namespace tarvik
