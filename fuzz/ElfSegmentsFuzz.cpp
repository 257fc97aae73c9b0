// Any bytes as an ELF file: the layout must fail cleanly or give an image inside its bounds.
#include <algorithm>
#include <cstring>

#include "FuzzSupport.h"
#include "image/ElfLayout.h"
#include "image/ElfSegments.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const tarvik::ReadAtFn readAt = [&](std::uint64_t offset,
                                        std::span<std::uint8_t> dst) -> std::optional<std::size_t> {
        if (offset >= size) {
            return 0;
        }
        const std::size_t n = std::min<std::uint64_t>(dst.size(), size - offset);
        std::memcpy(dst.data(), data + offset, n);
        return n;
    };
    const auto result = tarvik::LayOutElfSegments(size, readAt, "input");
    tarvik::fuzz::Check(result.error.has_value() == result.image.empty(),
                        "not exactly one of image and error");
    tarvik::fuzz::Check(result.image.size() <= tarvik::elf::kWorkBufferSize,
                        "an image larger than the work buffer");
    return 0;
}
