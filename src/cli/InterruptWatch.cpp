#include "cli/InterruptWatch.h"

#include <cstdio>
#include <cstdlib>

#include "app/UpdaterDlg.h"

namespace tarvik::cli {
namespace {

constexpr std::chrono::milliseconds kWatchSlice{50};

}  // namespace

void ExitAtOnce() {
    // A second Ctrl+C: the operator will not wait for anything more. The system closes
    // the ports and releases their locks.
    std::fputs("\n", stderr);
    std::fflush(nullptr);
    std::_Exit(kExitInterrupted);
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
