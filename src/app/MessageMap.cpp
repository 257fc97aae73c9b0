// The dialog's message map: command ids to handlers, in the order of its entries; the first
// entry that matches wins.
#include <array>
#include <exception>
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
    Entry{kIdSetCradleId, &CUpdaterDlg::OnSetCradleId},
    Entry{kIdClearCradleId, &CUpdaterDlg::OnClearCradleId},
    Entry{kIdCmdKe99, &CUpdaterDlg::OnCmdKe99},
    Entry{kIdCmdText, &CUpdaterDlg::OnCmdText},
    Entry{kIdCmdDash02, &CUpdaterDlg::OnCmdDash02},
    Entry{kIdCmdQuery, &CUpdaterDlg::OnCmdQuery},
    Entry{kIdSetUndiscover, &CUpdaterDlg::OnSetUndiscover},
    Entry{kIdCmdKe01, &CUpdaterDlg::OnCmdKe01},
    Entry{kIdCmdKe97, &CUpdaterDlg::OnCmdKe97},
    Entry{kIdCmdCr02, &CUpdaterDlg::OnCmdCr02},
    Entry{kIdCmdRaw, &CUpdaterDlg::OnCmdRaw},
    Entry{kIdCommand, &CUpdaterDlg::OnSendCommand},
    Entry{kIdResetCommand, &CUpdaterDlg::OnReset},
    Entry{kIdVersionCommand, &CUpdaterDlg::OnVersion},
    Entry{kIdVersion, &CUpdaterDlg::OnVersion},
    Entry{kIdSerialDownload, &CUpdaterDlg::SerialDownload},
    Entry{kIdReset, &CUpdaterDlg::OnReset},
};

}  // namespace

bool CUpdaterDlg::OnCommand(int id) {
    for (const Entry& entry : kMessageMap) {
        if (entry.id == id) {
            // Nothing a handler throws may reach the window's event loop.
            try {
                (this->*entry.handler)();
            } catch (const std::exception& e) {
                AfxMessageBox(std::string("Unexpected error: ") + e.what());
            }
            return true;
        }
    }
    return false;
}

}  // namespace tarvik
