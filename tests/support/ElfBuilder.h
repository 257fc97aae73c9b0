#pragma once

#include <cstdint>
#include <vector>

namespace tarvik::test {

// Builds 32-bit little-endian ELF files byte by byte, including broken ones.
class ElfBuilder {
public:
    struct Segment {
        std::uint32_t offset;   // p_offset
        std::uint32_t address;  // p_vaddr
        std::uint32_t size;     // p_filesz
    };

    // A file of `fileSize` bytes with a header whose table lies at `tableOffset`.
    ElfBuilder(std::size_t fileSize, std::uint32_t tableOffset) : m_bytes(fileSize, 0) {
        m_bytes[0] = 0x7F;
        m_bytes[1] = 'E';
        m_bytes[2] = 'L';
        m_bytes[3] = 'F';
        Put32(28, tableOffset);
        m_tableOffset = tableOffset;
    }

    // Appends a table entry; e_phnum counts the entries added unless set otherwise.
    ElfBuilder& Add(Segment s) {
        const std::size_t at = m_tableOffset + 32 * m_entries++;
        Put32(at + 4, s.offset);
        Put32(at + 8, s.address);
        Put32(at + 16, s.size);
        Put16(44, static_cast<std::uint16_t>(m_entries));
        return *this;
    }

    // Points e_phoff elsewhere, after the entries were written.
    ElfBuilder& TableAt(std::uint32_t offset) {
        Put32(28, offset);
        return *this;
    }

    ElfBuilder& EntryCount(std::uint16_t count) {
        Put16(44, count);
        return *this;
    }

    // Fills [from, to) with a pattern that tells each byte's offset.
    ElfBuilder& Pattern(std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            m_bytes[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
        }
        return *this;
    }

    std::vector<std::uint8_t>& Bytes() { return m_bytes; }

private:
    void Put32(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            m_bytes.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
        }
    }
    void Put16(std::size_t at, std::uint16_t v) {
        m_bytes.at(at) = static_cast<std::uint8_t>(v);
        m_bytes.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
    }

    std::vector<std::uint8_t> m_bytes;
    std::uint32_t m_tableOffset = 0;
    unsigned m_entries = 0;
};

}  // namespace tarvik::test
