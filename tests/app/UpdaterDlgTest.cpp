// The dialog's shell: start values, initialisation, data exchange and the two kinds of box.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

#include "app/UpdaterDlg.h"
#include "support/RecordingView.h"
#include "support/TempDir.h"

// Allocations of this many bytes or more fail while a test asks for it. GCC takes the free()
// inlined into a delete for a mismatch with the new it sees.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
static std::atomic<std::size_t> g_failAllocationsFrom{SIZE_MAX};

void* operator new(std::size_t size) {
    if (size >= g_failAllocationsFrom) {
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size != 0 ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop

namespace tarvik {
namespace {

using test::RecordingView;
using Events = std::vector<std::string>;

class UpdaterDlgTest : public ::testing::Test {
protected:
    RecordingView m_view;
    CUpdaterDlg m_dlg{m_view, RealClock(), "tarvik-updater"};
};

TEST_F(UpdaterDlgTest, StartsWithTheDescribedValuesAndInitialisesToUsbPort) {
    EXPECT_EQ(m_dlg.m_nPort, -1);
    EXPECT_EQ(m_dlg.m_nBaud, -1);
    EXPECT_EQ(m_dlg.m_bIdle, 1);
    EXPECT_EQ(m_dlg.m_bHidReading, 0);
    EXPECT_EQ(m_dlg.m_bHidAck, 0);
    EXPECT_FALSE(m_dlg.m_hComm);
    EXPECT_FALSE(m_dlg.m_hHidRead);
    EXPECT_FALSE(m_dlg.m_hHidWrite);
    EXPECT_TRUE(m_dlg.m_strFileTitle.empty() && m_dlg.m_strFileExt.empty() &&
                m_dlg.m_strStatus.empty() && m_dlg.m_strCommand.empty());

    m_dlg.m_bIdle = 0;
    EXPECT_TRUE(m_dlg.OnInitDialog());
    EXPECT_EQ(m_dlg.m_nPort, 0);
    EXPECT_EQ(m_dlg.m_nBaud, 0);
    EXPECT_EQ(m_dlg.m_bIdle, 1);
    EXPECT_EQ(g_pUpdaterDlg.load(), &m_dlg);
    EXPECT_EQ(m_view.Controls(), (DialogData{0, "", "", ""}));
    EXPECT_TRUE(m_view.Events().empty());  // no box, no progress, no status text
}

TEST(UpdaterDlgLifetimeTest, GlobalPointerIsClearedWhenTheDialogGoesAway) {
    RecordingView view;
    {
        CUpdaterDlg dlg(view, RealClock(), "t");
        dlg.OnInitDialog();
        EXPECT_EQ(g_pUpdaterDlg.load(), &dlg);
    }
    EXPECT_EQ(g_pUpdaterDlg.load(), nullptr);
}

TEST_F(UpdaterDlgTest, WindowBoxTakesTheCallersCaptionOrTheApplicationTitle) {
    m_dlg.MessageBox("Serial Port is unavaible!", std::nullopt, kMbIconHand);
    m_dlg.MessageBox("NO Ack!", "UCLRU");
    m_dlg.AfxMessageBox("This is not a ELF file");
    EXPECT_EQ(m_view.BoxRequests(),
              (std::vector<MessageBoxRequest>{
                  {MessageKind::Window, "tarvik-updater", "Serial Port is unavaible!", 0x10},
                  {MessageKind::Window, "UCLRU", "NO Ack!", 0x00},
                  {MessageKind::Application, "tarvik-updater", "This is not a ELF file", 0x30}}));
}

TEST(ApplicationTitleTest, IsTheExecutablesNameWithoutFolderAndExtension) {
    EXPECT_EQ(ApplicationTitle("/usr/bin/tarvik-flash"), "tarvik-flash");
    EXPECT_EQ(ApplicationTitle("build/Updater.exe"), "Updater");
    EXPECT_EQ(ApplicationTitle("tarvik-updater"), "tarvik-updater");
}

TEST_F(UpdaterDlgTest, DataExchangeRunsBothWaysAndLimitsTheCommandToFourCharacters) {
    m_dlg.OnInitDialog();
    m_view.Type([](DialogData& c) {
        c.m_nPort = 3;
        c.m_strFileTitle = "typed";
        c.m_strStatus = "notes";
        c.m_strCommand = "KÉ99";  // four characters, five bytes
    });
    EXPECT_TRUE(m_dlg.UpdateData(true));
    EXPECT_EQ(m_dlg.m_nPort, 3);
    EXPECT_EQ(m_dlg.m_strFileTitle, "typed");
    EXPECT_EQ(m_dlg.m_strStatus, "notes");
    EXPECT_EQ(m_dlg.m_strCommand, "KÉ99");

    m_view.Type([](DialogData& c) { c.m_strCommand = "KE990"; });
    EXPECT_FALSE(m_dlg.UpdateData(true));
    EXPECT_EQ(m_view.Boxes(),
              Events{"appbox tarvik-updater: Please enter no more than 4 characters."});

    m_dlg.SetStatus("Progressing...");
    EXPECT_EQ(m_view.Controls().m_strStatus, "Progressing...");
    EXPECT_EQ(m_view.Events().back(), "status Progressing...");
}

TEST_F(UpdaterDlgTest, ConversionFailuresReachTheOperatorInTheirOwnKindOfBox) {
    test::TempDir dir;
    m_dlg.m_strFileFolder = dir.Path();
    EXPECT_EQ(m_dlg.ConvertElfToBin("absent"), ConversionStatus::Failed);
    dir.Write("junk.out", std::vector<std::uint8_t>(64, 0));
    EXPECT_EQ(m_dlg.ConvertElfToBin("junk"), ConversionStatus::Failed);
    EXPECT_EQ(m_view.Boxes(), (Events{"box tarvik-updater: Please select a file first !",
                                      "appbox tarvik-updater: This is not a ELF file"}));

    // No memory for the work buffer: the conversion's silent failure, then Run's own box.
    std::vector<std::uint8_t> elf(0x400, 0);
    elf[1] = 'E', elf[2] = 'L', elf[3] = 'F', elf[28] = 0x34, elf[44] = 1;
    elf[0x34 + 5] = 0x02, elf[0x34 + 16] = 0x80;
    dir.Write("app.out", elf);
    m_dlg.m_strFileExt = "out";
    m_view.Type([](DialogData& c) { c.m_strFileTitle = "app"; });
    g_failAllocationsFrom = 64 * 1024;
    m_dlg.OnRun();
    g_failAllocationsFrom = SIZE_MAX;
    EXPECT_EQ(m_view.Boxes().back(), "box Error: File Convert fail!");
    EXPECT_EQ(m_view.Boxes().size(), 3u);
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"app.out", "junk.out"}));
    EXPECT_TRUE(m_view.RunEnabled());
}

TEST_F(UpdaterDlgTest, MessageMapRunsTheHandlerOfEachKnownIdAndNothingElse) {
    m_dlg.OnInitDialog();
    m_dlg.m_strCradleId = "ABCDEF123456";
    EXPECT_TRUE(m_dlg.OnCommand(kIdClearCradleId));
    EXPECT_EQ(m_dlg.m_strCradleId, "");

    // "Search...": title, extension and folder of the chosen file; Cancel changes nothing.
    m_view.QueueFileChoice(std::filesystem::path("/fw/v1.2/app.v3.OUT"));
    EXPECT_TRUE(m_dlg.OnCommand(kIdBrowse));
    EXPECT_EQ(m_dlg.m_strFileTitle, "app.v3");
    EXPECT_EQ(m_dlg.m_strFileExt, "OUT");
    EXPECT_EQ(m_dlg.m_strFileFolder, "/fw/v1.2");
    EXPECT_EQ(m_view.Controls().m_strFileTitle, "app.v3");
    m_view.QueueFileChoice(std::nullopt);
    EXPECT_TRUE(m_dlg.OnCommand(kIdBrowse));
    EXPECT_EQ(m_dlg.m_strFileTitle, "app.v3");

    // Stop while idle; ids of no entry do nothing at all.
    EXPECT_TRUE(m_dlg.OnCommand(kIdStop));
    const auto before = m_view.Events();
    EXPECT_FALSE(m_dlg.OnCommand(1099));
    EXPECT_FALSE(m_dlg.OnCommand(0));
    EXPECT_EQ(m_view.Events(), before);
    EXPECT_EQ(before.back(), "status  Stop !!");
    EXPECT_EQ(m_dlg.OnClose(), CloseAnswer::Close);
}

TEST_F(UpdaterDlgTest, WorkersAndTheWindowShareTheStatusWithoutARace) {
    m_dlg.OnInitDialog();
    // The status edit is exchanged both ways, so the window may copy back a text the worker
    // has since replaced: start from one of the worker's texts.
    m_dlg.SetStatus(" Device Found!");
    std::thread worker([&] {
        for (int i = 0; i < 200; ++i) {
            m_dlg.SetStatus(i % 2 ? "Search Device..." : " Device Found!");
        }
    });
    for (int i = 0; i < 200; ++i) {
        m_dlg.UpdateData(true);
        m_dlg.UpdateData(false);
    }
    worker.join();
    const std::string last = m_view.Controls().m_strStatus;
    EXPECT_TRUE(last == "Search Device..." || last == " Device Found!") << last;
}

}  // namespace
}  // namespace tarvik
