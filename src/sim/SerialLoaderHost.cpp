// tarvik-serial-loader: the simulated serial loader on a pseudo-terminal, for a program that
// is not in this process (the Windows build under Wine, its COM port linked to the terminal).
//
//   tarvik-serial-loader [--record FILE] [--pace] [--silent-after-clear]
//
// Prints the terminal's path as its first line, serves it until its standard input ends or
// SIGTERM comes, then writes the flashed image to FILE, prints the loader's log and then the
// maintenance frames it took ("command %/%/"), one entry a line, and each protocol error as
// "error: ...", and exits 0 when there was none, 1 otherwise.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "sim/SerialLoaderSim.h"

namespace {

constexpr int kExitUsage = 2;

// Returns when standard input ends or SIGTERM arrives, which the caller has blocked.
void WaitForTheEnd(int signals) {
    std::array<pollfd, 2> fds = {pollfd{STDIN_FILENO, POLLIN, 0}, pollfd{signals, POLLIN, 0}};
    std::array<char, 256> discard;
    for (;;) {
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if (fds[0].revents != 0) {
            const ssize_t got = ::read(STDIN_FILENO, discard.data(), discard.size());
            if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
                return;
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    tarvik::sim::SerialLoaderOptions options;
    std::optional<std::string> record;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--record" && i + 1 < argc) {
            record = argv[++i];
        } else if (arg == "--pace") {
            options.paceAtBaud = true;
        } else if (arg == "--silent-after-clear") {
            options.faults[0] = {tarvik::sim::FaultKind::Silence, {}, {}};
        } else {
            std::cerr << "usage: tarvik-serial-loader [--record FILE] [--pace] "
                         "[--silent-after-clear]\n";
            return kExitUsage;
        }
    }

    // SIGTERM is taken as a line to read, on this thread; blocked before the loader's thread
    // starts, so that it inherits the mask and never takes the signal itself.
    sigset_t terminate;
    sigemptyset(&terminate);
    sigaddset(&terminate, SIGTERM);
    if (::pthread_sigmask(SIG_BLOCK, &terminate, nullptr) != 0) {
        std::perror("tarvik-serial-loader: pthread_sigmask");
        return 1;
    }
    const int signals = ::signalfd(-1, &terminate, SFD_CLOEXEC);
    if (signals < 0) {
        std::perror("tarvik-serial-loader: signalfd");
        return 1;
    }

    std::vector<std::string> log;
    std::vector<std::string> frames;
    std::vector<std::string> errors;
    std::vector<std::uint8_t> flashed;
    {
        tarvik::sim::SerialLoaderSim loader(options);
        std::cout << loader.DevicePath().string() << std::endl;
        WaitForTheEnd(signals);
        log = loader.Log();
        frames = loader.MaintenanceFrames();
        errors = loader.Errors();
        flashed = loader.Flashed();
    }
    ::close(signals);

    if (record) {
        std::ofstream out(*record, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(flashed.data()),
                  static_cast<std::streamsize>(flashed.size()));
        if (!out) {
            std::cerr << "tarvik-serial-loader: cannot write " << *record << "\n";
            return 1;
        }
    }
    for (const auto& entry : log) {
        std::cout << entry << "\n";
    }
    for (const auto& frame : frames) {
        std::cout << frame << "\n";
    }
    for (const auto& error : errors) {
        std::cout << "error: " << error << "\n";
    }
    std::cout.flush();
    return errors.empty() ? 0 : 1;
}
