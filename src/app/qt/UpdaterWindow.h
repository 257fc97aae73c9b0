#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>

#include <map>

#include "app/UpdaterDlg.h"
#include "ports/PortListing.h"

class QComboBox;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;

namespace tarvik::qt {

class QtDialogView;

// The main window: the template's controls over CUpdaterDlg, which holds all the logic.
// `dlg` and `ports` must outlive the window; the window attaches itself to `view` for its
// lifetime. Each port entry's tooltip tells what is behind it, listed from `roots`.
class UpdaterWindow : public QDialog {
    Q_OBJECT
public:
    UpdaterWindow(CUpdaterDlg& dlg, QtDialogView& view, const PortNames& ports,
                  ports::ListingRoots roots = {}, QWidget* parent = nullptr);
    ~UpdaterWindow() override;

    // Lists the ports again and rewrites every entry's tooltip. Runs at the start and each
    // time the port list opens, so a device plugged in meanwhile shows.
    void RefreshPortTooltips();
    // A fixed tooltip for entry `index` instead of the listing's (the demo's simulators,
    // which no listing of the machine can see).
    void SetPortNote(int index, const QString& note);

    // A system command: the About entry opens the About box.
    void OnSysCommand(unsigned id);
    QMenu& SystemMenu() { return *m_systemMenu; }

    QComboBox& PortList() { return *m_port; }
    QLineEdit& FileEdit() { return *m_fileName; }
    QLineEdit& StatusEdit() { return *m_status; }
    QLineEdit& CommandEdit() { return *m_commandText; }
    QProgressBar& Progress() { return *m_progress; }
    QPushButton& RunButton() { return *m_run; }

    // Esc, and Enter outside a push button.
    void reject() override;
    void accept() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // Acts on the logic's answer to a close request; true when the window closes now.
    bool Answer(CloseAnswer answer);
    void CloseNow();
    void PollUpdateEnded();
    void ShowSystemMenu(const QPoint& globalPos);

    CUpdaterDlg& m_dlg;
    QtDialogView& m_view;
    const PortNames& m_portNames;
    const ports::ListingRoots m_roots;
    std::map<int, QString> m_portNotes;
    QComboBox* m_port = nullptr;
    QLineEdit* m_fileName = nullptr;
    QLineEdit* m_status = nullptr;
    QLineEdit* m_commandText = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_run = nullptr;
    QMenu* m_systemMenu = nullptr;
    QTimer m_closePoll;
};

}  // namespace tarvik::qt
