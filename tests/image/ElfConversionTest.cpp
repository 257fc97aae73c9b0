// ELF executables turned into raw images: the layout by address, the quirks the loader's
// images depend on, and every broken input refused without touching the output.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "image/ConvertElfToBin.h"
#include "support/ElfBuilder.h"
#include "support/TempDir.h"

namespace tarvik {
namespace {

using test::ElfBuilder;
using test::TempDir;
using Bytes = std::vector<std::uint8_t>;

class ElfConversionTest : public ::testing::Test {
protected:
    ConversionResult Convert(ElfBuilder& elf, const std::string& name = "fw.out") {
        m_dir.Write(name, elf.Bytes());
        return ConvertElfToBin(FirmwareFileFromPath(m_dir.Path() / name));
    }

    static Bytes Slice(const Bytes& b, std::size_t from, std::size_t to) {
        return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(to));
    }

    // The operator's text of a failed conversion, which must name the file.
    std::string FailureText(const ConversionResult& r) {
        EXPECT_EQ(r.status, ConversionStatus::Failed);
        EXPECT_TRUE(r.message.has_value());
        return r.message ? r.message->text : std::string();
    }

    TempDir m_dir;
};

TEST_F(ElfConversionTest, TwoSegmentsLaidOutByAddressWithWholeUnitReads) {
    ElfBuilder elf(0x600, 0x34);
    elf.Pattern(0x200, 0x600).Add({0x200, 0x1000, 0x100}).Add({0x400, 0x1200, 0x80}).Add({0, 0, 0});
    const auto result = Convert(elf);
    ASSERT_EQ(result.status, ConversionStatus::Converted);
    EXPECT_FALSE(result.message.has_value());
    const Bytes out = m_dir.Read("fw.bin");
    ASSERT_EQ(out.size(), 0x280u);
    // The first segment's 512-byte read carries the 0x100 bytes behind it along.
    EXPECT_EQ(Slice(out, 0, 0x200), Slice(elf.Bytes(), 0x200, 0x400));
    EXPECT_EQ(Slice(out, 0x200, 0x280), Slice(elf.Bytes(), 0x400, 0x480));
    EXPECT_EQ(result.output, m_dir.Path() / "fw.bin");
}

TEST_F(ElfConversionTest, RoundingFillsOnlyUpToTheNext512AndGapsStayZero) {
    ElfBuilder elf(0x1000, 0x34);
    elf.Pattern(0x200, 0x1000).Add({0x200, 0x8000, 0x10}).Add({0x800, 0x8400, 0x20});
    ASSERT_EQ(Convert(elf).status, ConversionStatus::Converted);
    const Bytes out = m_dir.Read("fw.bin");
    ASSERT_EQ(out.size(), 0x420u);
    EXPECT_EQ(Slice(out, 0, 0x200), Slice(elf.Bytes(), 0x200, 0x400));
    EXPECT_EQ(Slice(out, 0x200, 0x400), Bytes(0x200, 0));
    EXPECT_EQ(Slice(out, 0x400, 0x420), Slice(elf.Bytes(), 0x800, 0x820));
}

TEST_F(ElfConversionTest, LaterEntryOverwritesTheRoundingOfAnEarlierOne) {
    ElfBuilder elf(0x800, 0x34);
    elf.Pattern(0x100, 0x800).Add({0x200, 0x100, 0x10}).Add({0x600, 0x108, 0x8});
    ASSERT_EQ(Convert(elf).status, ConversionStatus::Converted);
    const Bytes out = m_dir.Read("fw.bin");
    ASSERT_EQ(out.size(), 0x10u);
    EXPECT_EQ(Slice(out, 0, 8), Slice(elf.Bytes(), 0x200, 0x208));
    EXPECT_EQ(Slice(out, 8, 0x10), Slice(elf.Bytes(), 0x600, 0x608));
}

TEST_F(ElfConversionTest, OutputEndsAtTheHighestSegmentEndNotTheLastListed) {
    ElfBuilder elf(0x1000, 0x34);
    elf.Pattern(0x200, 0x1000).Add({0x200, 0x2000, 0x800}).Add({0xA00, 0x2100, 0x10});
    ASSERT_EQ(Convert(elf).status, ConversionStatus::Converted);
    const Bytes out = m_dir.Read("fw.bin");
    ASSERT_EQ(out.size(), 0x800u);
    EXPECT_EQ(Slice(out, 0, 0x100), Slice(elf.Bytes(), 0x200, 0x300));
    EXPECT_EQ(Slice(out, 0x100, 0x300), Slice(elf.Bytes(), 0xA00, 0xC00));
    EXPECT_EQ(Slice(out, 0x300, 0x800), Slice(elf.Bytes(), 0x500, 0xA00));
}

TEST_F(ElfConversionTest, WalkStopsAfterEPhnumEntriesWithoutATerminator) {
    ElfBuilder elf(0x800, 0x34);
    elf.Pattern(0x200, 0x800).Add({0x200, 0x100, 0x20}).Add({0x300, 0x120, 0x20});
    // Bytes behind the table that would read as a third entry far above the others.
    ElfBuilder junk(0x800, 0x34);
    junk.Add({0, 0, 0}).Add({0, 0, 0}).Add({0x400, 0x30000, 0x100});
    std::copy(junk.Bytes().begin() + 0x74, junk.Bytes().begin() + 0x94, elf.Bytes().begin() + 0x74);
    ASSERT_EQ(Convert(elf).status, ConversionStatus::Converted);
    EXPECT_EQ(m_dir.Read("fw.bin").size(), 0x40u);
}

TEST_F(ElfConversionTest, SegmentEndingExactlyAtTheBufferEndFitsAndNothingSpillsPast) {
    // 0x40000 - 0x10 bytes of address room; the 512-byte read would run past the buffer.
    ElfBuilder elf(0x1000, 0x34);
    elf.Pattern(0x200, 0x1000).Add({0x200, 0x10000, 0x10}).Add({0x400, 0x4FFF0, 0x10});
    ASSERT_EQ(Convert(elf).status, ConversionStatus::Converted);
    const Bytes out = m_dir.Read("fw.bin");
    ASSERT_EQ(out.size(), 0x40000u);
    EXPECT_EQ(Slice(out, 0x3FFF0, 0x40000), Slice(elf.Bytes(), 0x400, 0x410));
}

TEST_F(ElfConversionTest, BrokenInputsFailWithAMessageNamingFileAndProblem) {
    struct Case {
        const char* what;
        std::function<void(ElfBuilder&)> build;
        const char* problem;
    };
    const std::vector<Case> cases = {
        {"segment past the buffer",
         [](ElfBuilder& e) {
             e.Add({0x200, 0x1000, 0x10}).Add({0x300, 0x41000, 0x10});
         },
         "holds at most 0x40000 bytes"},
        {"segment below the base",
         [](ElfBuilder& e) {
             e.Add({0x200, 0x1000, 0x10}).Add({0x300, 0xFFF, 0x10});
         },
         "below the first segment's address 0x1000"},
        {"segment past the end of the file",
         [](ElfBuilder& e) {
             e.Add({0x200, 0x1000, 0x10}).Add({0x300, 0x1100, 0x200});
         },
         "ends beyond the end of the file"},
        {"table past the end of the file",
         [](ElfBuilder& e) {
             e.Add({0x200, 0x1000, 0x10}).TableAt(0x3F0);
         },
         "ends inside program header 0"},
        {"no program bytes",
         [](ElfBuilder& e) {
             e.Add({0, 0x1000, 0x10});
         },
         "holds no program bytes"},
        {"no entries at all", [](ElfBuilder& e) { e.EntryCount(0); }, "holds no program bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ElfBuilder elf(0x400, 0x34);
        c.build(elf);
        const auto result = Convert(elf);
        const std::string text = FailureText(result);
        EXPECT_NE(text.find((m_dir.Path() / "fw.out").string()), std::string::npos) << text;
        EXPECT_NE(text.find(c.problem), std::string::npos) << text;
        EXPECT_EQ(result.message->kind, MessageKind::Application);
        EXPECT_EQ(m_dir.Names(), std::vector<std::string>{"fw.out"});
    }
}

TEST_F(ElfConversionTest, FileEndingInsideTheHeaderIsRefused) {
    Bytes shortFile = {0x7F, 'E', 'L', 'F', 1, 1, 1, 0, 0, 0};
    m_dir.Write("fw.out", shortFile);
    const auto result = ConvertElfToBin(FirmwareFileFromPath(m_dir.Path() / "fw.out"));
    EXPECT_NE(FailureText(result).find("ends inside the ELF header (10 of 52 bytes)"),
              std::string::npos);
}

TEST_F(ElfConversionTest, NotAnElfAndMissingInputGiveTheOperatorsTexts) {
    m_dir.Write("fw.out", Bytes(100, 'x'));
    auto result = ConvertElfToBin(FirmwareFileFromPath(m_dir.Path() / "fw.out"));
    EXPECT_EQ(result.message, ApplicationMessage("This is not a ELF file"));
    // Byte 0 is not compared.
    m_dir.Write("fw.out", Bytes{'x', 'E', 'L', 'F'});
    EXPECT_NE(FailureText(ConvertElfToBin(FirmwareFileFromPath(m_dir.Path() / "fw.out")))
                  .find("ends inside the ELF header"),
              std::string::npos);

    result = ConvertElfToBin(FirmwareFileFromPath(m_dir.Path() / "other.bin"));
    EXPECT_EQ(result.status, ConversionStatus::Failed);
    EXPECT_EQ(result.message, WindowMessage("Please select a file first !"));
    // Nothing chosen at all: the title is empty.
    result = ConvertElfToBin(FirmwareFile{m_dir.Path(), "", ""});
    EXPECT_EQ(result.message, WindowMessage("Please select a file first !"));
}

TEST_F(ElfConversionTest, FailedConversionLeavesAnEarlierImageUntouched) {
    m_dir.Write("fw.bin", Bytes{1, 2, 3});
    ElfBuilder elf(0x400, 0x34);
    elf.Add({0x200, 0x1000, 0x10}).Add({0x300, 0x800, 0x10});
    EXPECT_EQ(Convert(elf).status, ConversionStatus::Failed);
    EXPECT_EQ(m_dir.Read("fw.bin"), (Bytes{1, 2, 3}));
    EXPECT_EQ(m_dir.Names(), (std::vector<std::string>{"fw.bin", "fw.out"}));
}

TEST_F(ElfConversionTest, OutputThatCannotBeWrittenNamesFileAndReasonAndLeavesNoTemporary) {
    std::filesystem::create_directory(m_dir.Path() / "fw.bin");
    ElfBuilder elf(0x400, 0x34);
    elf.Add({0x200, 0x1000, 0x10});
    const auto result = Convert(elf);
    ASSERT_EQ(result.status, ConversionStatus::OutputFailed);
    ASSERT_TRUE(result.message.has_value());
    EXPECT_EQ(result.message->text,
              "Cannot write " + (m_dir.Path() / "fw.bin").string() + ": Is a directory.");
    EXPECT_EQ(m_dir.Names(), (std::vector<std::string>{"fw.bin", "fw.out"}));
}

TEST_F(ElfConversionTest, AWriteThatFailsPartWayLeavesTheEarlierImageByteForByte) {
    m_dir.Write("fw.bin", Bytes(5000, 0xEE));
    ElfBuilder elf(0x8400, 0x34);
    elf.Pattern(0x200, 0x8400).Add({0x200, 0x1000, 0x8000});
    m_dir.Write("fw.out", elf.Bytes());
    // No file may grow past 4 KiB now; the system says so with EFBIG, not with a signal.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto result = ConvertElfToBin(FirmwareFileFromPath(m_dir.Path() / "fw.out"));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(result.status, ConversionStatus::OutputFailed);
    ASSERT_TRUE(result.message.has_value());
    EXPECT_EQ(result.message->text,
              "Cannot write " + (m_dir.Path() / "fw.bin").string() + ": File too large.");
    EXPECT_EQ(m_dir.Read("fw.bin"), Bytes(5000, 0xEE));
    EXPECT_EQ(m_dir.Names(), (std::vector<std::string>{"fw.bin", "fw.out"}));
}

TEST_F(ElfConversionTest, ReplacesAnEarlierImageAndReadsTheChosenCaseOfTheInput) {
    m_dir.Write("FW.bin", Bytes(5000, 0xEE));
    ElfBuilder elf(0x400, 0x34);
    elf.Pattern(0x200, 0x400).Add({0x200, 0x1000, 0x10});
    ASSERT_EQ(Convert(elf, "FW.OUT").status, ConversionStatus::Converted);
    EXPECT_EQ(m_dir.Read("FW.bin"), Slice(elf.Bytes(), 0x200, 0x210));
}

}  // namespace
}  // namespace tarvik
