#pragma once

#include <filesystem>
#include <optional>

#include "image/FirmwareFiles.h"
#include "image/OperatorMessage.h"

namespace tarvik {

enum class ConversionStatus {
    Converted,     // `title`.bin has been written
    Failed,        // the input was missing or unusable; the output is untouched
    OutputFailed,  // the output could not be written; the output is untouched
};

struct ConversionResult {
    ConversionStatus status = ConversionStatus::Failed;
    std::optional<OperatorMessage> message;  // for the operator, when it failed
    std::filesystem::path output;            // the raw image written
};

// Converts the ELF executable `title`.out in the firmware's folder into the raw image
// `title`.bin beside it. The input is checked whole first, and the output is written to a
// temporary file that replaces `title`.bin only when complete.
ConversionResult ConvertElfToBin(const FirmwareFile& file);

}  // namespace tarvik
