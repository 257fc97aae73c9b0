// The window over the real logic: its template, its start state, and whole updates, closes
// and the About box driven as the operator would, against the simulated loaders.
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app/OperatorTexts.h"
#include "app/qt/QtDialogView.h"
#include "app/qt/UpdaterWindow.h"
#include "image/FirmwareFiles.h"
#include "ports/FakeSysfsTree.h"
#include "serial/PosixSerialPort.h"
#include "sim/HidLoaderSim.h"
#include "sim/SerialLoaderSim.h"
#include "support/TempDir.h"

namespace tarvik::qt {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Texts = std::vector<std::string>;

// Threads of our own: std::thread keeps the process's name, Qt names its pool's threads.
long OwnThreadCount() {
    const auto name = [](const std::filesystem::path& task) {
        std::string text;
        std::getline(std::ifstream(task / "comm"), text);
        return text;
    };
    return std::ranges::count_if(
        std::filesystem::directory_iterator("/proc/self/task"),
        [&](const auto& task) { return name(task) == name("/proc/self"); });
}

bool WaitUntil(const std::function<bool()>& done, int ms = 60'000) {
    return QTest::qWaitFor(done, ms);
}

std::string S(const QString& text) {
    return text.toStdString();
}

// Each entry of a list by `role`.
Texts Items(const QComboBox& list, int role = Qt::DisplayRole) {
    Texts texts;
    for (int i = 0; i < list.count(); ++i) {
        texts.push_back(S(list.itemData(i, role).toString()));
    }
    return texts;
}

// The longest the GUI thread went without running a 10 ms timer, and how often it ran.
struct Heartbeat : QTimer {
    Heartbeat() {
        connect(this, &QTimer::timeout, [this] {
            longest = std::max(longest, since.restart());
            ++beats;
        });
        since.start();
        start(10);
    }
    QElapsedTimer since;
    qint64 longest = 0;
    int beats = 0;
};

class UpdaterWindowTest : public ::testing::Test {
protected:
    // The window over a dialog on a fast clock, with the loaders behind COM1 and USB unless
    // there are none.
    void Open(std::optional<sim::SerialLoaderOptions> serial = sim::SerialLoaderOptions{}) {
        if (serial) {
            PlugSerialLoader(*serial);
        }
        m_dlg = std::make_unique<CUpdaterDlg>(
            m_view, m_clock, "tarvik-updater",
            UpdaterLinks{&m_opener, &m_ports, serial ? &m_hidSim : nullptr});
        m_window = std::make_unique<UpdaterWindow>(*m_dlg, m_view, m_ports, m_tree.Roots());
        m_dlg->OnInitDialog();
        m_window->show();
        m_view.SetBoxHook([this](QMessageBox& box) { Answer(box); });
        QObject::connect(&m_window->Progress(), &QProgressBar::valueChanged,
                         [this](int value) { m_progress.push_back(value); });
    }

    // A fresh loader behind COM1: one that has rebooted takes no second download.
    void PlugSerialLoader(sim::SerialLoaderOptions options) {
        options.clock = &m_clock;
        m_serialSim = std::make_unique<sim::SerialLoaderSim>(options);
        m_ports.Override(1, m_serialSim->DevicePath());
    }

    // Every box is recorded, then answered; marked when it would read its text as markup, and
    // when Run can be pressed while it is up.
    void Answer(QMessageBox& box) {
        m_boxes.push_back(S(box.windowTitle()) + ": " + S(box.text()) +
                          (box.textFormat() == Qt::PlainText ? "" : " [markup]") +
                          (m_window->RunButton().isEnabled() ? " [Run on]" : ""));
        const auto answer = box.button(QMessageBox::Ok) ? QMessageBox::Ok
                            : m_confirmYes              ? QMessageBox::Yes
                                                        : QMessageBox::No;
        QTimer::singleShot(0, &box, [&box, answer] { box.button(answer)->click(); });
    }

    // Chooses an image of `size` bytes and runs it to the loader at `port`; the image as
    // flashed, in whole blocks.
    Bytes Run(int port, std::size_t size) {
        Bytes image = test::PatternBytes(size, static_cast<unsigned>(size));
        const FirmwareFile file = FirmwareFileFromPath(m_dir.Write("fw.bin", image));
        {
            std::lock_guard lock(m_dlg->m_dataLock);
            m_dlg->m_strFileFolder = file.folder;
            m_dlg->m_strFileExt = file.ext;
        }
        m_window->FileEdit().setText(QString::fromStdString(file.title));
        m_progress.clear();
        m_window->PortList().setCurrentIndex(port);
        m_window->RunButton().click();
        image.resize((size + kBlockSize - 1) / kBlockSize * kBlockSize, 0);
        return image;
    }

    bool Finished(std::size_t boxes) {
        return WaitUntil(
            [&] { return m_boxes.size() >= boxes && m_window->RunButton().isEnabled(); });
    }

    QWidget& Find(const char* name) {
        QWidget* widget = m_window->findChild<QWidget*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return *widget;
    }

    test::TempDir m_dir;
    // The machine the port list's tooltips describe: empty unless a test fills it.
    test::FakeSysfsTree m_tree;
    ScaledClock m_clock{4};
    PosixSerialPortOpener m_opener{m_clock};
    PortNames m_ports{[](const std::string&) { return std::optional<std::string>(); }};
    std::unique_ptr<sim::SerialLoaderSim> m_serialSim;
    sim::HidLoaderSim m_hidSim{{.clock = &m_clock}};
    QtDialogView m_view;
    std::unique_ptr<CUpdaterDlg> m_dlg;
    std::unique_ptr<UpdaterWindow> m_window;  // goes before the dialog, as in the program
    Texts m_boxes;
    std::vector<int> m_progress;
    bool m_confirmYes = true;
};

TEST_F(UpdaterWindowTest, StartsOnUsbWithTheTemplatesControlsTooltipsThatLookAgainAndAnAboutBox) {
    m_tree.Uart8250("ttyS0", "4");  // the listing is of the machine given from the start
    Open(std::nullopt);
    UpdaterWindow& w = *m_window;
    QComboBox& ports = w.PortList();
    EXPECT_EQ(Items(ports), (Texts{"USB Port", "COM1", "COM2", "COM3", "COM4", "COM5", "COM6",
                                   "COM7", "COM8", "COM9"}));
    EXPECT_EQ(
        std::tuple(ports.currentIndex(), w.focusWidget() == &ports, S(w.windowTitle()),
                   S(w.FileEdit().text() + w.StatusEdit().text() + w.CommandEdit().text()),
                   w.CommandEdit().maxLength(), w.Progress().value(), w.RunButton().isEnabled(),
                   S(w.RunButton().text()), Find("IDC_STOP").isEnabled()),
        std::tuple(0, true, "Olmen V1.00  05-08-2014", "", 4, 0, true, "Run ", false));
    EXPECT_EQ(w.windowIcon().availableSizes(),
              (QList<QSize>{{16, 16}, {32, 32}, {48, 48}, {256, 256}}));
    for (const char* name : {"IDC_STOP", "IDC_COMMAND", "IDC_COMMAND_TEXT", "IDC_RESET",
                             "IDC_VERSION", "IDC_CRADLE_ID"}) {
        EXPECT_TRUE(Find(name).isHidden()) << name;
    }
    for (QPushButton* button : w.findChildren<QPushButton*>()) {
        EXPECT_FALSE(button->isDefault() || button->autoDefault()) << S(button->objectName());
    }
    Texts tabOrder;  // the template's order, over the controls shown
    QWidget* widget = &ports;
    do {
        if (widget->objectName().startsWith("IDC_") && widget->isVisibleTo(&w) &&
            (widget->focusPolicy() & Qt::TabFocus)) {
            tabOrder.push_back(S(widget->objectName()));
        }
    } while ((widget = widget->nextInFocusChain()) != &ports);
    EXPECT_EQ(tabOrder,
              (Texts{"IDC_PORT", "IDC_FILE_NAME", "IDC_BROWSE", "IDC_STATUS", "IDC_RUN"}));

    // Where the template puts each control, in the base units of its 10-point font.
    QFont font = QApplication::font();
    font.setPointSize(10);
    const QFontMetrics metrics(font);
    const double baseX = std::round(
        metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 52.0);
    const auto px = [&](int x, int y, int width, int height) {
        return QRect(std::lround(x * baseX / 4), std::lround(y * metrics.height() / 8.0),
                     std::lround(width * baseX / 4), std::lround(height * metrics.height() / 8.0));
    };
    EXPECT_EQ(w.size(), px(0, 0, 275, 89).size());
    for (const auto& [name, rect] : {std::pair{"IDC_RUN", px(242, 26, 28, 18)},
                                     std::pair{"IDC_PROGRESS", px(142, 52, 128, 14)},
                                     std::pair{"IDC_FILE_NAME", px(16, 59, 73, 15)},
                                     std::pair{"IDC_BROWSE", px(94, 59, 34, 15)}}) {
        EXPECT_EQ(Find(name).geometry(), rect) << name;
    }
    // The combo box keeps its closed height, not the template's open list.
    const QRect combo = ports.geometry(), open = px(41, 17, 86, 90);
    EXPECT_EQ(std::pair(combo.topLeft(), combo.width()), std::pair(open.topLeft(), open.width()));
    EXPECT_LT(combo.height(), open.height() / 2);

    // Each entry's tooltip says what is behind it; the closed list tells about the one chosen.
    Texts tips = {"USB Port: no boot-mode device present", "COM1: /dev/ttyS0 — serial8250"};
    for (int n = 2; n <= 9; ++n) {
        tips.push_back("COM" + std::to_string(n) + ": /dev/ttyS" + std::to_string(n - 1) +
                       " — does not exist");
    }
    EXPECT_EQ(Items(ports, Qt::ToolTipRole), tips);
    EXPECT_EQ(S(ports.toolTip()), tips[0]);
    ports.setCurrentIndex(3);
    EXPECT_EQ(S(ports.toolTip()), tips[3]);
    // The loader is plugged in and COM2 moved while the window was up, and the demo's
    // simulators stand behind an entry no listing can see: opening the list looks again.
    m_tree.UsbHid("4", "FFFF", "0012", "0100", "Tarvik Loader", "hidraw2");
    m_ports.Override(2, "/nonexistent/tty-two");
    w.SetPortNote(1, "COM1: simulated loader on /dev/pts/7");
    ports.showPopup();
    tips[0] = "USB Port: boot-mode device at " + m_tree.Dev().string() + "/hidraw2";
    tips[1] = "COM1: simulated loader on /dev/pts/7";
    tips[2] = "COM2: /nonexistent/tty-two — does not exist";
    EXPECT_EQ(Items(ports, Qt::ToolTipRole), tips);
    ports.hidePopup();

    // The About box opens for each id of its command and from the system menu and its keys.
    const auto opened = [&](const std::function<void()>& act) {
        std::string title = "none";
        QTimer::singleShot(0, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                title = S(modal->windowTitle());
                QTest::keyClick(modal, Qt::Key_Return);  // OK is the About box's default
            }
        });
        act();
        QCoreApplication::processEvents();
        return title;
    };
    QMenu& menu = w.SystemMenu();
    ASSERT_EQ(menu.actions().size(), 1);
    EXPECT_EQ(S(menu.actions()[0]->text()), "&About Tarvik Firmware Utility");
    const std::string about = "About Pelton upgrade tool";
    EXPECT_EQ(
        (Texts{opened([&] { w.OnSysCommand(16); }), opened([&] { w.OnSysCommand(31); }),
               opened([&] { w.OnSysCommand(32); }), opened([&] { menu.actions()[0]->trigger(); })}),
        (Texts{about, about, "none", about}));
    for (const auto& [key, modifiers] :
         {std::pair{Qt::Key_Menu, Qt::NoModifier}, std::pair{Qt::Key_F10, Qt::ShiftModifier}}) {
        QTest::keyClick(&ports, key, modifiers);
        EXPECT_TRUE(WaitUntil([&] { return menu.isVisible(); }, 5000)) << key;
        menu.hide();
    }
}

// Closes during a search, by Esc and by the close box; a download over serial with a close
// answered No on the way, and one over USB; maintenance replies and a held line; a close
// answered Yes that ends the next download and the window.
TEST_F(UpdaterWindowTest, ClosesSearchesDownloadsWithTheGuiThreadBeatingAndAsksBeforeClosing) {
    Open(sim::SerialLoaderOptions{.answerSearch = false});
    const long threads = OwnThreadCount();
    for (const bool escape : {true, false}) {
        SCOPED_TRACE(escape);
        m_window->show();
        m_window->StatusEdit().clear();
        Run(1, 5000);
        ASSERT_TRUE(WaitUntil([&] { return m_window->StatusEdit().text() == "Search Device..."; }));
        EXPECT_TRUE(m_dlg->UpdateRunning());
        if (escape) {
            QTest::keyClick(&m_window->PortList(), Qt::Key_Escape);
        } else {
            m_window->close();
        }
        ASSERT_TRUE(WaitUntil([&] { return !m_window->isVisible(); }));
        EXPECT_EQ(std::tuple(m_dlg->UpdateRunning(), OwnThreadCount(), m_dlg->LastOutcome()),
                  std::tuple(false, threads, UpdateOutcome::Cancelled));
    }
    EXPECT_EQ(m_boxes, Texts{});

    const sim::SerialLoaderOptions paced{.paceAtBaud = true};  // a block takes its wire time
    PlugSerialLoader(paced);
    m_window->show();
    const auto closeOnceUnderWay = [&] {
        ASSERT_TRUE(WaitUntil([&] { return !m_progress.empty() && m_progress.back() > 0; }));
        m_window->close();
    };
    m_confirmYes = false;
    Heartbeat heartbeat;
    QElapsedTimer download;
    download.start();
    Bytes image = Run(1, 64 * kBlockSize);
    closeOnceUnderWay();
    ASSERT_TRUE(Finished(2));
    // Far longer than the bound, which leaves a shared machine its hiccups.
    EXPECT_GT(download.elapsed(), 2000);
    EXPECT_LT(heartbeat.longest, 1000);
    EXPECT_EQ(
        std::tuple(m_window->isVisible(), m_serialSim->Errors(), S(m_window->StatusEdit().text())),
        std::tuple(true, Texts{}, "Download Finished!"));
    EXPECT_EQ(m_serialSim->Flashed(), image);
    std::vector<int> progress;  // after each block but block 0, then done
    for (int i = 1; i <= 64; ++i) {
        progress.push_back(100 * i / 64);
    }
    EXPECT_EQ(m_progress, progress);

    image = Run(0, 5000);
    ASSERT_TRUE(Finished(3));
    EXPECT_EQ(std::tuple(m_hidSim.Errors(), m_progress, m_dlg->LastOutcome()),
              std::tuple(Texts{}, std::vector<int>{0, 33, 66, 100}, UpdateOutcome::Succeeded));
    EXPECT_EQ(m_hidSim.Flashed(), image);

    // A reply is shown as written. Then the line takes no byte: the command's write on the
    // window thread gives up after its stall limit (a quarter of 2 s on this clock).
    PlugSerialLoader(
        {.maintenanceReplies = {{"%/%/", {'<', 'b', '>', 'v', '2', '<', '/', 'b', '>'}}}});
    m_window->PortList().setCurrentIndex(1);
    QTimer::singleShot(0, [this] { m_dlg->OnCommand(kIdVersion); });
    ASSERT_TRUE(WaitUntil([&] { return m_boxes.size() == 4; }));
    const int held = ::open(m_serialSim->DevicePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(held, 0);
    ::tcflow(held, TCOOFF);
    ::close(held);
    heartbeat.longest = 0;
    QTimer::singleShot(0, [this] { m_dlg->OnCommand(kIdVersion); });
    ASSERT_TRUE(WaitUntil([&] { return m_boxes.size() == 5; }));
    const int beats = heartbeat.beats;
    ASSERT_TRUE(WaitUntil([&] { return heartbeat.beats > beats + 5; }));
    EXPECT_LT(heartbeat.longest, 20'000);  // frozen for the stall limit, never for good
    EXPECT_FALSE(m_dlg->Port());

    m_confirmYes = true;
    PlugSerialLoader(paced);
    Run(1, 64 * kBlockSize);
    closeOnceUnderWay();
    ASSERT_TRUE(WaitUntil([&] { return !m_window->isVisible(); }));
    const std::string question = "tarvik-updater: " + std::string(kConfirmStopDownload);
    const std::string finished = "Update: Download Finished!";  // none with Run on
    EXPECT_EQ(m_boxes, (Texts{question, finished, finished, "tarvik-updater: <b>v2</b> [Run on]",
                              "Fail: The serial port was closed or failed. [Run on]", question}));
    EXPECT_EQ(std::tuple(m_dlg->LastOutcome(), S(m_window->StatusEdit().text()),
                         m_progress.back() < 100, OwnThreadCount()),
              std::tuple(UpdateOutcome::Cancelled, " Stop !!", true, threads));
}

}  // namespace
}  // namespace tarvik::qt

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
