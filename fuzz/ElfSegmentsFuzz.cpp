// Any bytes as an ELF file: the layout must fail cleanly or give an image inside its bounds.
#include <algorithm>
#include <cstdlib>
#include <cstring>

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
    if (result.error.has_value() == !result.image.empty()) {
        std::abort();  // exactly one of image and error
    }
    if (result.image.size() > tarvik::elf::kWorkBufferSize) {
        std::abort();
    }
    return 0;
}
