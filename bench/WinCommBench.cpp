// What one one-byte write request costs on a Windows COM port: the bare comm calls (a
// synchronous handle; an overlapped one with an event, without one), the calls a port makes
// around a request, and WinSerialPort itself. The other end must drain the line as fast as
// it can, so that what is timed is the request and not the wire. Each figure is the best and
// the median of several rounds, the rounds of all figures taken in turn, so that a busy
// moment of the machine spoils one round of each rather than all of one. Prints figures;
// never fails on them. Built by hand beside a Windows build:
//
//   x86_64-w64-mingw32-g++-posix -std=c++20 -O2 -static -DNOMINMAX -Isrc
//       bench/WinCommBench.cpp build/windows/src/serial/libtarvik_serial_link.a
//       build/windows/src/clock/libtarvik_clock.a -o build/windows/win_comm_bench.exe
//
//   wine win_comm_bench.exe COM3 [REQUESTS [ROUNDS [ONLY]]]
//
// ONLY, a figure's number, runs that figure alone (with WINEDEBUG=+server, to count the
// calls into Wine's server that one request makes).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "serial/WinSerialPort.h"

namespace {

double Seconds() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

HANDLE OpenComm(const std::wstring& name, bool overlapped) {
    const HANDLE comm =
        ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                      overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    if (comm == INVALID_HANDLE_VALUE) {
        return comm;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ::GetCommState(comm, &dcb);
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    ::SetCommState(comm, &dcb);
    COMMTIMEOUTS timeouts = {30, 10, 200, 0, 0};
    ::SetCommTimeouts(comm, &timeouts);
    return comm;
}

struct Figure {
    Figure(const char* name, std::function<bool()> call) : what(name), request(std::move(call)) {}

    const char* what;
    std::function<bool()> request;   // true when the request was done at once
    std::vector<double> perRequest;  // microseconds, one a round
    int atOnce = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: win_comm_bench COMn [REQUESTS [ROUNDS [ONLY]]]\n");
        return 2;
    }
    const std::string port = argv[1];
    const std::wstring name(port.begin(), port.end());
    const int n = argc > 2 ? std::atoi(argv[2]) : 5000;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
    const int only = argc > 4 ? std::atoi(argv[4]) : 0;
    const std::uint8_t byte = 0x55;

    // The port is opened four ways in turn, one at a time; each figure names the one it needs:
    // 0 synchronous, 1 overlapped, 2 WinSerialPort, 3 overlapped and told to post no
    // completion for a request done at once.
    HANDLE handles[4] = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE,
                         INVALID_HANDLE_VALUE};
    std::shared_ptr<tarvik::SerialPort> ours;
    tarvik::WinSerialPortOpener opener(tarvik::RealClock());
    HANDLE comm = INVALID_HANDLE_VALUE;  // the overlapped handle of the figure that runs
    const auto use = [&](int kind) {
        for (int other = 0; other < 4; ++other) {
            if (other != kind && handles[other] != INVALID_HANDLE_VALUE) {
                ::CloseHandle(std::exchange(handles[other], INVALID_HANDLE_VALUE));
            }
        }
        if (kind != 2 && ours) {
            std::exchange(ours, nullptr)->Close();
        }
        if (kind == 2) {
            if (!ours) {
                ours = opener.Open(port, 115200).port;
            }
            return ours != nullptr;
        }
        if (kind >= 0 && handles[kind] == INVALID_HANDLE_VALUE) {
            handles[kind] = OpenComm(name, kind != 0);
            if (kind == 3) {
                ::SetFileCompletionNotificationModes(handles[kind],
                                                     FILE_SKIP_COMPLETION_PORT_ON_SUCCESS);
            }
        }
        comm = kind >= 0 ? handles[kind] : INVALID_HANDLE_VALUE;
        return comm != INVALID_HANDLE_VALUE;
    };
    const HANDLE& sync = handles[0];

    const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE closing = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // An event whose lowest bit is set keeps the completion off any completion port.
    const auto tagged = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event) | 1);
    const auto overlappedWrite = [&](HANDLE withEvent, bool waitOnTwo) {
        OVERLAPPED ov{};
        ov.hEvent = withEvent;
        DWORD moved = 0;
        if (::WriteFile(comm, &byte, 1, &moved, &ov)) {
            return true;
        }
        if (::GetLastError() == ERROR_IO_PENDING) {
            if (waitOnTwo) {
                const HANDLE waits[2] = {event, closing};
                ::WaitForMultipleObjects(2, waits, FALSE, 50);
            }
            ::GetOverlappedResult(comm, &ov, &moved, TRUE);
        }
        return false;
    };
    std::mutex lock;
    OVERLAPPED finished{};
    finished.hEvent = event;

    std::vector<std::pair<int, Figure>> figures = {
        {0,
         {"synchronous WriteFile",
          [&] {
              DWORD moved = 0;
              return ::WriteFile(sync, &byte, 1, &moved, nullptr) != FALSE;
          }}},
        {1, {"overlapped WriteFile, event", [&] { return overlappedWrite(event, false); }}},
        {1, {"overlapped WriteFile, no event", [&] { return overlappedWrite(nullptr, false); }}},
        {1,
         {"overlapped WriteFile, event, low bit set",
          [&] { return overlappedWrite(tagged, false); }}},
        {3,
         {"overlapped WriteFile, no event, skip on success",
          [&] { return overlappedWrite(nullptr, false); }}},
        {1,
         {"overlapped WriteFile, event, wait on two",
          [&] { return overlappedWrite(event, true); }}},
        {1,
         {"ClearCommError",
          [&] {
              DWORD errors = 0;
              COMSTAT status{};
              return ::ClearCommError(comm, &errors, &status) != FALSE;
          }}},
        {1,
         {"WaitForSingleObject, unset event, 0 ms",
          [&] { return ::WaitForSingleObject(closing, 0) == WAIT_TIMEOUT; }}},
        {1, {"ResetEvent", [&] { return ::ResetEvent(event) != FALSE; }}},
        {1, {"SetEvent", [&] { return ::SetEvent(event) != FALSE; }}},
        {1,
         {"GetOverlappedResult, finished request",
          [&] {
              DWORD moved = 0;
              return ::GetOverlappedResult(comm, &finished, &moved, FALSE) != FALSE;
          }}},
        {1,
         {"std::mutex lock and unlock",
          [&] {
              const std::lock_guard guard(lock);
              return true;
          }}},
        {1,
         {"steady_clock::now",
          [&] { return std::chrono::steady_clock::now().time_since_epoch().count() != 0; }}},
        {2, {"WinSerialPort::Write of one byte", [&] { return ours->Write(std::span(&byte, 1)); }}},
    };
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t i = 0; i < figures.size(); ++i) {
            if (only != 0 && static_cast<int>(i) + 1 != only) {
                continue;
            }
            auto& [kind, figure] = figures[i];
            if (!use(kind)) {
                std::fprintf(stderr, "cannot open %s\n", port.c_str());
                return 1;
            }
            int atOnce = 0;
            const double start = Seconds();
            for (int k = 0; k < n; ++k) {
                atOnce += figure.request() ? 1 : 0;
            }
            figure.perRequest.push_back((Seconds() - start) * 1e6 / n);
            figure.atOnce += atOnce;
        }
    }
    use(-1);
    std::printf("%d requests a round, %d rounds: best and median microseconds a request\n", n,
                rounds);
    for (std::size_t i = 0; i < figures.size(); ++i) {
        auto& figure = figures[i].second;
        auto& times = figure.perRequest;
        if (times.empty()) {
            continue;
        }
        std::sort(times.begin(), times.end());
        std::printf("%2zu %-44s %7.1f %7.1f   (%d of %d done at once)\n", i + 1, figure.what,
                    times.front(), times[times.size() / 2], figure.atOnce,
                    n * static_cast<int>(times.size()));
    }
    ::CloseHandle(event);
    ::CloseHandle(closing);
    return 0;
}
