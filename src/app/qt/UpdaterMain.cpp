// tarvik-updater: the updater's window, the same CUpdaterDlg as the command line.
#include <cstdio>
#include <memory>

#include <QApplication>
#include <QStringList>

#include "app/DemoFirmware.h"
#include "app/UpdaterDlg.h"
#include "app/qt/QtDialogView.h"
#include "app/qt/UpdaterWindow.h"
#include "hid/SystemHidTransport.h"
#include "serial/SystemSerialPort.h"
#include "sim/HidLoaderSim.h"
#include "sim/SerialLoaderSim.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kDemoSerialPort = 1;

}  // namespace

int main(int argc, char** argv) {
    using namespace tarvik;
    QApplication app(argc, argv);
    const std::string appTitle = ApplicationTitle(argv[0]);
    QApplication::setApplicationName(QString::fromStdString(appTitle));
    QApplication::setApplicationVersion(QStringLiteral("2.0.0.0"));
    // The desktop entry the package installs: Wayland desktops match the window to its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("tarvik-updater"));

    const QStringList arguments = QApplication::arguments().mid(1);
    const bool demo = arguments == QStringList{QStringLiteral("--demo")};
    if (!arguments.isEmpty() && !demo) {
        std::fprintf(stderr, "usage: %s [--demo]\n", appTitle.c_str());
        return kExitUsage;
    }

    // The links outlive the dialog, which outlives the window.
    PortNames ports;
    std::unique_ptr<sim::SerialLoaderSim> serialSim;
    std::unique_ptr<sim::HidLoaderSim> hidSim;
    std::unique_ptr<HidTransport> systemHid;
    HidTransport* hid = nullptr;
    if (demo) {
        sim::SerialLoaderOptions serialOptions;
        serialOptions.paceAtBaud = true;
        serialSim = std::make_unique<sim::SerialLoaderSim>(serialOptions);
        ports.Override(kDemoSerialPort, serialSim->DevicePath());
        sim::HidLoaderOptions hidOptions;
        hidOptions.reportTime = std::chrono::milliseconds(1);
        hidSim = std::make_unique<sim::HidLoaderSim>(hidOptions);
        hid = hidSim.get();
    } else {
        systemHid = MakeSystemHidTransport();  // here, before any other thread
        hid = systemHid.get();
    }
    const auto serial = MakeSystemSerialPortOpener(RealClock());

    qt::QtDialogView view;
    CUpdaterDlg dlg(view, RealClock(), appTitle, {serial.get(), &ports, hid});
    // The port list's tooltips describe this machine's own /sys and /dev.
    qt::UpdaterWindow window(dlg, view, ports, tarvik::ports::ListingRoots{});
    dlg.OnInitDialog();
    if (demo) {
        window.setWindowTitle(window.windowTitle() + QStringLiteral(" — demo: simulated devices"));
        window.SetPortNote(0, QStringLiteral("USB Port: simulated loader in boot mode"));
        window.SetPortNote(kDemoSerialPort,
                           QStringLiteral("COM%1: simulated loader on %2")
                               .arg(kDemoSerialPort)
                               .arg(QString::fromStdString(serialSim->DevicePath().string())));
        ChooseDemoFirmware(dlg);
    }
    window.show();
    return window.exec();
}
