#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "image/OperatorMessage.h"

namespace tarvik {

// Reads up to dst.size() bytes at a file offset; returns how many arrived (fewer at the end of
// the file), or nothing when the read itself failed.
using ReadAtFn = std::function<std::optional<std::size_t>(std::uint64_t, std::span<std::uint8_t>)>;

struct ElfLayoutResult {
    std::vector<std::uint8_t> image;       // the raw image, when the layout succeeded
    std::optional<OperatorMessage> error;  // why it did not
};

// Lays the program segments of an ELF file out by address, from the first segment's address
// up. The whole input is checked before anything is returned; `name` is how messages call it.
ElfLayoutResult LayOutElfSegments(std::uint64_t fileSize, const ReadAtFn& readAt,
                                  const std::string& name);

}  // namespace tarvik
