#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "app/DialogView.h"
#include "app/UpdaterState.h"
#include "clock/Clock.h"
#include "image/ConvertElfToBin.h"
#include "image/FirmwareFiles.h"
#include "image/OperatorMessage.h"

namespace tarvik {

// The updater: its state, every handler and every road. It knows no toolkit and reaches
// the operator only through its DialogView.
class CUpdaterDlg : public UpdaterState {
public:
    CUpdaterDlg(DialogView& view, const Clock& clock, std::string appTitle);
    ~CUpdaterDlg();

    CUpdaterDlg(const CUpdaterDlg&) = delete;
    CUpdaterDlg& operator=(const CUpdaterDlg&) = delete;

    bool OnInitDialog();

    // true: controls into members; false: members into controls. False when a value
    // fails its check (the operator has been told).
    bool UpdateData(bool bSaveAndValidate = true);

    // The window's box: the caption given, or the application title.
    void MessageBox(const std::string& text, const std::optional<std::string>& caption = {},
                    unsigned type = kMbOk);
    // The application's box: application title, exclamation icon.
    void AfxMessageBox(const std::string& text);
    void ShowMessage(const OperatorMessage& message);

    // Status line: the text into m_strStatus, then the members into the controls.
    void SetStatus(const std::string& text);
    void SetProgress(int position);
    void EnableRunButton(bool enable);

    // Converts `title`.out of the chosen folder into `title`.bin and tells the operator why
    // when it cannot.
    ConversionStatus ConvertElfToBin(const std::string& title);

    // The chosen firmware as it stands now.
    FirmwareFile CurrentFirmware() const;

    const std::string& AppTitle() const { return m_appTitle; }
    const Clock& GetClock() const { return m_clock; }
    DialogView& View() { return m_view; }

private:
    DialogData Snapshot() const;

    DialogView& m_view;
    const Clock& m_clock;
    const std::string m_appTitle;
};

// The one dialog of the process, set when it initialises and cleared when it goes away.
extern std::atomic<CUpdaterDlg*> g_pUpdaterDlg;

// The application title: the executable's name without folder and extension.
std::string ApplicationTitle(const std::filesystem::path& executable);

}  // namespace tarvik
