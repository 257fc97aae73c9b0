// ELF executables turned into raw images: the layout by address, the quirks the loader's
// images depend on, and every broken input refused without touching the output.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <array>
#include <csignal>
#include <tuple>

#include "image/ConvertElfToBin.h"
#include "support/ElfBuilder.h"
#include "support/TempDir.h"

namespace tarvik {
namespace {

using test::TempDir;
using Bytes = std::vector<std::uint8_t>;
using Names = std::vector<std::string>;
using test::Elf;

// Converts `file`, written as `name`, beside an earlier image `name`.bin of `earlier`.
ConversionResult Convert(TempDir& dir, const Bytes& file, const Bytes& earlier,
                         const std::string& name = "fw.out") {
    dir.Write(name.substr(0, name.find('.')) + ".bin", earlier);
    return ConvertElfToBin(FirmwareFileFromPath(dir.Write(name, file)));
}

TEST(ElfConversionTest, SegmentsAreLaidOutByAddressInWhole512ByteReadsOverTheEarlierImage) {
    struct Case {
        const char* what;
        Bytes file;
        // Output [from, to) holds the file's bytes from the third on; all else up to the
        // highest `to` is zero.
        std::vector<std::array<std::size_t, 3>> pieces;
        std::string name = "fw.out";
    };
    const std::vector<Case> cases = {
        {"a read carries the bytes behind a segment along; the walk stops at p_offset 0",
         Elf(0x600, {{0x200, 0x1000, 0x100}, {0x400, 0x1200, 0x80}, {0, 0, 0}}),
         {{0, 0x200, 0x200}, {0x200, 0x280, 0x400}}},
        {"rounding fills only up to the next 512, gaps stay zero",
         Elf(0x1000, {{0x200, 0x8000, 0x10}, {0x800, 0x8400, 0x20}}),
         {{0, 0x200, 0x200}, {0x400, 0x420, 0x800}}},
        {"a later entry overwrites the rounding of an earlier one",
         Elf(0x800, {{0x200, 0x100, 0x10}, {0x600, 0x108, 0x8}}),
         {{0, 8, 0x200}, {8, 0x10, 0x600}}},
        {"the output ends at the highest segment end, not the last listed",
         Elf(0x1000, {{0x200, 0x2000, 0x800}, {0xA00, 0x2100, 0x10}}),
         {{0, 0x100, 0x200}, {0x100, 0x300, 0xA00}, {0x300, 0x800, 0x500}}},
        {"the walk stops after e_phnum entries: a third far above is not read",
         Elf(0x800, {{0x200, 0x100, 0x20}, {0x300, 0x120, 0x20}, {0x400, 0x30000, 0x100}}, 2),
         {{0, 0x20, 0x200}, {0x20, 0x40, 0x300}}},
        {"a segment ending at the buffer's end fits; its 512-byte read spills nothing",
         Elf(0x1000, {{0x200, 0x10000, 0x10}, {0x400, 0x4FFF0, 0x10}}),
         {{0, 0x200, 0x200}, {0x3FFF0, 0x40000, 0x400}}},
        {"the input in the case chosen",
         Elf(0x400, {{0x200, 0x1000, 0x10}}),
         {{0, 0x10, 0x200}},
         "FW.OUT"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const auto result = Convert(dir, c.file, Bytes(5000, 0xEE), c.name);
        const std::string bin = c.name.substr(0, 2) + ".bin";
        EXPECT_EQ(std::tuple(result.status, result.message, result.output),
                  std::tuple(ConversionStatus::Converted, std::nullopt, dir.Path() / bin));
        Bytes expected(c.pieces.back()[1], 0);
        for (const auto& [from, to, at] : c.pieces) {
            std::copy_n(c.file.begin() + static_cast<long>(at), to - from,
                        expected.begin() + static_cast<long>(from));
        }
        EXPECT_EQ(dir.Read(bin), expected);
        EXPECT_EQ(dir.Names().size(), 2u);  // no temporary left behind
    }
}

TEST(ElfConversionTest, BrokenInputsFailWithATextNamingFileAndProblemAndKeepTheEarlierImage) {
    const std::vector<std::tuple<const char*, Bytes, std::string>> cases = {
        {"segment past the buffer", Elf(0x400, {{0x200, 0x1000, 0x10}, {0x300, 0x41000, 0x10}}),
         "holds at most 0x40000 bytes"},
        {"segment below the base", Elf(0x400, {{0x200, 0x1000, 0x10}, {0x300, 0xFFF, 0x10}}),
         "below the first segment's address 0x1000"},
        {"segment past the end of the file",
         Elf(0x400, {{0x200, 0x1000, 0x10}, {0x300, 0x1100, 0x200}}),
         "ends beyond the end of the file"},
        {"table past the end of the file", Elf(0x400, {{0x200, 0x1000, 0x10}}, -1, 0x3F0),
         "ends inside program header 0"},
        {"no program bytes", Elf(0x400, {{0, 0x1000, 0x10}}), "holds no program bytes"},
        {"no entries at all", Elf(0x400, {}, 0), "holds no program bytes"},
        {"file ending inside the header",
         {0x7F, 'E', 'L', 'F', 1, 1, 1, 0, 0, 0},
         "ends inside the ELF header (10 of 52 bytes)"},
        {"byte 0 is not compared", {'x', 'E', 'L', 'F'}, "ends inside the ELF header (4 of"},
    };
    for (const auto& [what, file, problem] : cases) {
        SCOPED_TRACE(what);
        TempDir dir;
        const auto result = Convert(dir, file, {1, 2, 3});
        EXPECT_EQ(result.status, ConversionStatus::Failed);
        const OperatorMessage message = result.message.value_or(OperatorMessage{});
        EXPECT_EQ(message.kind, MessageKind::Application);
        EXPECT_NE(message.text.find((dir.Path() / "fw.out").string()), std::string::npos);
        EXPECT_NE(message.text.find(problem), std::string::npos) << message.text;
        EXPECT_EQ(dir.Read("fw.bin"), (Bytes{1, 2, 3}));
        EXPECT_EQ(dir.Names(), (Names{"fw.bin", "fw.out"}));
    }
}

TEST(ElfConversionTest, OutputThatCannotBeWrittenOrFailsPartWayKeepsTheEarlierImageAndNoTemporary) {
    TempDir dir;
    const auto expect = [&](const ConversionResult& result, const std::string& reason) {
        EXPECT_EQ(result.status, ConversionStatus::OutputFailed);
        EXPECT_EQ(result.message.value_or(OperatorMessage{}).text,
                  "Cannot write " + (dir.Path() / "fw.bin").string() + ": " + reason);
        EXPECT_EQ(dir.Names(), (Names{"fw.bin", "fw.out"}));
    };
    std::filesystem::create_directory(dir.Path() / "fw.bin");
    dir.Write("fw.out", Elf(0x400, {{0x200, 0x1000, 0x10}}));
    expect(ConvertElfToBin(FirmwareFileFromPath(dir.Path() / "fw.out")), "Is a directory.");

#ifndef _WIN32  // a file size limit is POSIX's
    std::filesystem::remove(dir.Path() / "fw.bin");
    dir.Write("fw.bin", Bytes(5000, 0xEE));
    dir.Write("fw.out", Elf(0x8400, {{0x200, 0x1000, 0x8000}}));
    // No file may grow past 4 KiB now; the system says so with EFBIG, not with a signal.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto result = ConvertElfToBin(FirmwareFileFromPath(dir.Path() / "fw.out"));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    expect(result, "File too large.");
    EXPECT_EQ(dir.Read("fw.bin"), Bytes(5000, 0xEE));
#endif
}

}  // namespace
}  // namespace tarvik
