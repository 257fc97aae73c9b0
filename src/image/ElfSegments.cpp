#include "image/ElfSegments.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "image/ElfLayout.h"

namespace tarvik {
namespace {

std::string Hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

ElfLayoutResult Fail(std::string text) {
    return {{}, ApplicationMessage(std::move(text))};
}

bool ReadExactly(const ReadAtFn& readAt, std::uint64_t offset, std::span<std::uint8_t> dst) {
    const auto got = readAt(offset, dst);
    return got && *got == dst.size();
}

}  // namespace

ElfLayoutResult LayOutElfSegments(std::uint64_t fileSize, const ReadAtFn& readAt,
                                  const std::string& name) {
    std::array<std::uint8_t, elf::kHeaderSize> header{};
    const auto headerBytes =
        readAt(0, std::span(header).first(std::min<std::uint64_t>(fileSize, header.size())));
    if (!headerBytes) {
        return Fail("Cannot read " + name + ".");
    }
    if (*headerBytes < 4 || header[1] != 'E' || header[2] != 'L' || header[3] != 'F') {
        return Fail("This is not a ELF file");
    }
    if (*headerBytes < elf::kHeaderSize) {
        return Fail(name + ": the file ends inside the ELF header (" +
                    std::to_string(*headerBytes) + " of 52 bytes).");
    }

    const std::uint64_t tableOffset = elf::Le32(&header[elf::kPhoffOffset]);
    const unsigned entryCount = elf::Le16(&header[elf::kPhnumOffset]);
    std::vector<std::uint8_t> buffer(elf::kWorkBufferSize, 0);
    std::uint64_t base = 0;
    std::uint64_t end = 0;

    // The table ends at the first entry whose p_offset is 0, or after e_phnum entries.
    for (unsigned k = 0; k < entryCount; ++k) {
        const std::uint64_t entryOffset = tableOffset + std::uint64_t{elf::kEntrySize} * k;
        std::array<std::uint8_t, elf::kEntrySize> entry{};
        if (entryOffset + entry.size() > fileSize) {
            return Fail(name + ": the file ends inside program header " + std::to_string(k) + ".");
        }
        if (!ReadExactly(readAt, entryOffset, entry)) {
            return Fail("Cannot read " + name + ".");
        }
        const std::uint64_t fileOffset = elf::Le32(&entry[elf::kPOffsetOffset]);
        const std::uint64_t address = elf::Le32(&entry[elf::kPVaddrOffset]);
        const std::uint64_t fileBytes = elf::Le32(&entry[elf::kPFileszOffset]);
        if (fileOffset == 0) {
            break;
        }
        if (k == 0) {
            base = address;
        }
        if (address < base) {
            return Fail(name + ": segment " + std::to_string(k) + " at " + Hex(address) +
                        " lies below the first segment's address " + Hex(base) + ".");
        }
        const std::uint64_t at = address - base;
        if (at + fileBytes > elf::kWorkBufferSize) {
            return Fail(name + ": segment " + std::to_string(k) + " ends " + Hex(at + fileBytes) +
                        " bytes above the first segment's address; the image holds at most " +
                        Hex(elf::kWorkBufferSize) + " bytes.");
        }
        if (fileOffset + fileBytes > fileSize) {
            return Fail(name + ": segment " + std::to_string(k) +
                        " ends beyond the end of the file.");
        }
        // Whole 512-byte units, so up to 511 bytes that follow the segment in the file land
        // behind it; a later segment may overwrite them. Nothing lands past the buffer.
        const std::uint64_t rounded =
            (fileBytes + elf::kReadUnit - 1) / elf::kReadUnit * elf::kReadUnit;
        const std::uint64_t count =
            std::min({rounded, fileSize - fileOffset, elf::kWorkBufferSize - at});
        if (!ReadExactly(readAt, fileOffset, std::span(buffer).subspan(at, count))) {
            return Fail("Cannot read " + name + ".");
        }
        end = std::max(end, at + fileBytes);
    }

    if (end == 0) {
        return Fail(name + ": the file holds no program bytes; no raw image was written.");
    }
    buffer.resize(end);
    return {std::move(buffer), std::nullopt};
}

}  // namespace tarvik
