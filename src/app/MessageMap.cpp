// The dialog's message map: command ids to handlers, in the order of its entries; the first
// entry that matches wins.
#include <array>
#include <utility>

#include "app/UpdaterDlg.h"

namespace tarvik {
namespace {

using Handler = void (CUpdaterDlg::*)();

struct Entry {
    int id;
    Handler handler;
};

// Ids without a control of the window still run their handler when they reach the dialog.
constexpr std::array kMessageMap = {
    Entry{kIdBrowse, &CUpdaterDlg::OnBrowse},
    Entry{kIdRun, &CUpdaterDlg::OnRun},
    Entry{kIdStop, &CUpdaterDlg::OnStop},
    Entry{kIdClearCradleId, &CUpdaterDlg::OnClearCradleId},
    Entry{kIdSerialDownload, &CUpdaterDlg::SerialDownload},
};

}  // namespace

bool CUpdaterDlg::OnCommand(int id) {
    for (const Entry& entry : kMessageMap) {
        if (entry.id == id) {
            (this->*entry.handler)();
            return true;
        }
    }
    return false;
}

}  // namespace tarvik
