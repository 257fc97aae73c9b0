#include "cli/InterruptWatch.h"

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>

#include "app/UpdaterDlg.h"

namespace tarvik::cli {
namespace {

constexpr std::chrono::milliseconds kWatchSlice{50};

sigset_t InterruptSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    return set;
}

}  // namespace

void ExitAtOnce() {
    // A second Ctrl+C: the operator will not wait for anything more. The system closes
    // the ports and releases their locks.
    std::fputs("\n", stderr);
    std::fflush(nullptr);
    std::_Exit(kExitInterrupted);
}

void BlockInterrupt() {
    const sigset_t set = InterruptSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool TakeInterrupt(std::chrono::milliseconds wait) {
    const sigset_t set = InterruptSet();
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    const timespec slice{static_cast<time_t>(ns / 1'000'000'000),
                         static_cast<long>(ns % 1'000'000'000)};
    return sigtimedwait(&set, nullptr, &slice) == SIGINT;
}

InterruptWatch::InterruptWatch(CUpdaterDlg& dlg)
    : m_thread([this, &dlg] {
          while (!m_done) {
              if (TakeInterrupt(kWatchSlice)) {
                  if (m_interrupted) {
                      ExitAtOnce();
                  }
                  m_interrupted = true;
              }
              if (m_interrupted) {
                  dlg.CancelUpdate();
              }
          }
      }) {}

InterruptWatch::~InterruptWatch() {
    m_done = true;
    m_thread.join();
}

}  // namespace tarvik::cli
