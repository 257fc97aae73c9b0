// Figures for the window: the time from starting the program to the window shown, and the
// peak memory, on Qt's offscreen platform. Prints figures; never fails on them.
//
// The program is this benchmark itself, linked like tarvik-updater: a run that exits at once
// gives the cost of loading the program and its libraries, and a run that builds and shows
// the window as tarvik-updater does gives the rest, measured from main().
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/UpdaterDlg.h"
#include "app/qt/QtDialogView.h"
#include "app/qt/UpdaterWindow.h"
#include "hid/HidapiTransport.h"
#include "serial/PosixSerialPort.h"

namespace {

using Steady = std::chrono::steady_clock;

double Ms(Steady::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Shows the window as tarvik-updater does and prints the milliseconds from main() on.
int ShowWindow(int argc, char** argv, Steady::time_point start) {
    using namespace tarvik;
    QApplication app(argc, argv);
    PortNames ports;
    HidapiTransport hidapi;
    PosixSerialPortOpener serial(RealClock());
    qt::QtDialogView view;
    CUpdaterDlg dlg(view, RealClock(), "tarvik-updater", {&serial, &ports, &hidapi});
    qt::UpdaterWindow window(dlg, view, ports);
    dlg.OnInitDialog();
    window.show();
    while (!window.windowHandle() || !window.windowHandle()->isExposed()) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    QApplication::processEvents();
    std::printf("%.3f\n", Ms(Steady::now() - start));
    return 0;
}

// Runs this program with `mode`; its printed figure, wall time and peak resident memory.
struct Run {
    double printed = 0;
    double wallMs = 0;
    long peakKiB = 0;
};

Run RunSelf(const char* self, const char* mode) {
    const std::string out = "/tmp/tarvik-window-bench.out";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    char* argv[] = {const_cast<char*>(self), const_cast<char*>(mode), nullptr};
    const auto start = Steady::now();
    pid_t pid = -1;
    posix_spawn(&pid, self, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Run run{0, Ms(Steady::now() - start), usage.ru_maxrss};
    if (std::FILE* f = std::fopen(out.c_str(), "r")) {
        if (std::fscanf(f, "%lf", &run.printed) != 1) {
            run.printed = -1;
        }
        std::fclose(f);
    }
    return run;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const auto start = Steady::now();
    if (argc > 1 && std::strcmp(argv[1], "--load-only") == 0) {
        return 0;
    }
    if (argc > 1 && std::strcmp(argv[1], "--window") == 0) {
        return ShowWindow(argc, argv, start);
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::vector<double> loads;
    std::vector<double> shows;
    long peak = 0;
    for (int i = 0; i < 10; ++i) {
        loads.push_back(RunSelf(argv[0], "--load-only").wallMs);
        const Run run = RunSelf(argv[0], "--window");
        shows.push_back(run.printed);
        peak = std::max(peak, run.peakKiB);
    }
    const double load = Median(loads);
    const double show = Median(shows);
    std::printf(
        "window, offscreen: start to shown %.1f ms (loading %.1f ms + main to shown %.1f ms), "
        "median of %zu runs (target < 500 ms); peak memory %.1f MiB (target < 80 MiB)\n",
        load + show, load, show, shows.size(), peak / 1024.0);
    return 0;
}
