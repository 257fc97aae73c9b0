// The dialog's shell: start values, initialisation, data exchange, the two kinds of box,
// conversion failures, the message map and the status shared with the workers.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

#include "app/UpdaterDlg.h"
#include "support/ElfBuilder.h"
#include "support/RecordingView.h"
#include "support/TempDir.h"

// Allocations of this many bytes or more fail while a test asks for it. GCC takes the free()
// inlined into a delete for a mismatch with the new it sees. ThreadSanitizer brings its own
// operator new, which cannot be replaced.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TARVIK_OWN_NEW 0
#endif
#endif
#ifndef TARVIK_OWN_NEW
#define TARVIK_OWN_NEW 1
#endif
static std::atomic<std::size_t> g_failAllocationsFrom{SIZE_MAX};
#if TARVIK_OWN_NEW
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
    void* p = size < g_failAllocationsFrom ? std::malloc(size != 0 ? size : 1) : nullptr;
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop
#endif

namespace tarvik {
namespace {

using test::RecordingView;
using Events = std::vector<std::string>;

class UpdaterDlgTest : public ::testing::Test {
protected:
    RecordingView m_view;
    CUpdaterDlg m_dlg{m_view, RealClock(), "tarvik-updater"};
};

TEST_F(UpdaterDlgTest, StartsInitialisesExchangesDataShowsBoxesDispatchesCommandsAndSharesStatus) {
    m_dlg.m_bIdle = 0;
    EXPECT_TRUE(m_dlg.OnInitDialog());
    EXPECT_EQ(std::tuple(m_dlg.m_nPort, m_dlg.m_nBaud, int{m_dlg.m_bIdle}, int{m_dlg.m_bHidReading},
                         int{m_dlg.m_bHidAck}),
              std::tuple(0, 0, 1, 0, 0));
    EXPECT_FALSE(m_dlg.m_hComm || m_dlg.m_hHidRead || m_dlg.m_hHidWrite);
    EXPECT_EQ(m_view.Controls(), (DialogData{0, "", "", ""}));
    EXPECT_EQ(m_view.Events(), Events{});  // no box, no progress, no status text
    EXPECT_EQ(g_pUpdaterDlg.load(), &m_dlg);
    {
        CUpdaterDlg other(m_view, RealClock(), "t");
        other.OnInitDialog();
        EXPECT_EQ(g_pUpdaterDlg.load(), &other);
    }
    EXPECT_EQ(g_pUpdaterDlg.load(), nullptr);

    // Data exchange both ways, the command limited to four characters.
    m_view.Type([](DialogData& c) { c = {3, "typed", "notes", "KÉ99"}; });  // É is two bytes
    EXPECT_TRUE(m_dlg.UpdateData(true));
    EXPECT_EQ(
        std::tuple(m_dlg.m_nPort, m_dlg.m_strFileTitle, m_dlg.m_strStatus, m_dlg.m_strCommand),
        std::tuple(3, "typed", "notes", "KÉ99"));
    m_view.Type([](DialogData& c) { c.m_strCommand = "KE990"; });
    EXPECT_FALSE(m_dlg.UpdateData(true));
    m_view.Type([](DialogData& c) { c.m_strCommand = ""; });

    // The window's box takes the caller's caption or the application title, the executable's
    // name; the application box, that title and an exclamation.
    m_dlg.MessageBox("Serial Port is unavaible!", std::nullopt, kMbIconHand);
    m_dlg.MessageBox("NO Ack!", "UCLRU");
    m_dlg.AfxMessageBox("This is not a ELF file");
    EXPECT_EQ(m_view.BoxRequests(),
              (std::vector<MessageBoxRequest>{
                  {MessageKind::Application, "tarvik-updater",
                   "Please enter no more than 4 characters.", 0x30},
                  {MessageKind::Window, "tarvik-updater", "Serial Port is unavaible!", 0x10},
                  {MessageKind::Window, "UCLRU", "NO Ack!", 0x00},
                  {MessageKind::Application, "tarvik-updater", "This is not a ELF file", 0x30}}));
    EXPECT_EQ(std::tuple(ApplicationTitle("/usr/bin/tarvik-flash"),
                         ApplicationTitle("build/Updater.exe"), ApplicationTitle("tarvik-updater")),
              std::tuple("tarvik-flash", "Updater", "tarvik-updater"));

    // The message map runs the handler of each known id, and nothing for any other.
    m_dlg.m_strCradleId = "ABCDEF123456";
    EXPECT_TRUE(m_dlg.OnCommand(kIdClearCradleId));
    EXPECT_EQ(m_dlg.m_strCradleId, "");
    // "Search...": title, extension and folder of the chosen file; Cancel changes nothing.
    for (const auto& choice : {std::optional<std::filesystem::path>("/fw/v1.2/app.v3.OUT"),
                               std::optional<std::filesystem::path>()}) {
        m_view.QueueFileChoice(choice);
        EXPECT_TRUE(m_dlg.OnCommand(kIdBrowse));
        EXPECT_EQ(std::tuple(m_dlg.m_strFileTitle, m_dlg.m_strFileExt, m_dlg.m_strFileFolder,
                             m_view.Controls().m_strFileTitle),
                  std::tuple("app.v3", "OUT", "/fw/v1.2", "app.v3"));
    }
    // Stop while idle only shows its status, a close asks nothing, and ids of no entry do
    // nothing at all.
    const std::size_t before = m_view.Events().size();
    EXPECT_TRUE(m_dlg.OnCommand(kIdStop));
    EXPECT_FALSE(m_dlg.OnCommand(1099) || m_dlg.OnCommand(0));
    EXPECT_EQ(m_dlg.OnClose(), CloseAnswer::Close);
    const Events after = m_view.Events();
    EXPECT_EQ(Events(after.begin() + before, after.end()), Events{"status  Stop !!"});
    EXPECT_EQ(m_dlg.m_bIdle, 1);

    // Workers and the window share the status without a race. It is exchanged both ways, so
    // the window may copy back a text the worker has since replaced: start from one of the
    // worker's texts.
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

TEST_F(UpdaterDlgTest, ConversionFailuresReachTheOperatorInTheirOwnKindOfBox) {
    test::TempDir dir;
    m_dlg.m_strFileFolder = dir.Path();
    dir.Write("junk.out", std::vector<std::uint8_t>(64, 'x'));
    for (const char* title : {"absent", "junk"}) {  // none chosen: the road tests
        EXPECT_EQ(m_dlg.ConvertElfToBin(title), ConversionStatus::Failed);
    }
    EXPECT_EQ(m_view.Boxes(), (Events{"box tarvik-updater: Please select a file first !",
                                      "appbox tarvik-updater: This is not a ELF file"}));

    // No memory for the work buffer: the conversion's silent failure, then Run's own box.
    if (!TARVIK_OWN_NEW) {
        GTEST_SKIP() << "ThreadSanitizer's operator new cannot be made to fail";
    }
    dir.Write("app.out", test::Elf(0x400, {{0x200, 0, 0x80}}));
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

}  // namespace
}  // namespace tarvik
