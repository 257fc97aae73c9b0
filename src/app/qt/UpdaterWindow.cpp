#include "app/qt/UpdaterWindow.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>

#include "app/qt/AboutDialog.h"
#include "app/qt/AppIcon.h"
#include "app/qt/DialogTemplate.h"
#include "app/qt/QtDialogView.h"

namespace tarvik::qt {
namespace {

constexpr int kClosePollMs = 20;
constexpr int kSerialPorts = 9;

template <typename T>
T* Control(QDialog& dialog, const char* name) {
    return dialog.findChild<T*>(QString::fromUtf8(name), Qt::FindDirectChildrenOnly);
}

}  // namespace

UpdaterWindow::UpdaterWindow(CUpdaterDlg& dlg, QtDialogView& view, const PortNames& ports,
                             ports::ListingRoots roots, QWidget* parent)
    : QDialog(parent), m_dlg(dlg), m_view(view), m_portNames(ports), m_roots(std::move(roots)) {
    BuildDialog(MainDialogTemplate(), *this);
    setWindowIcon(ApplicationIcon());
    m_port = Control<QComboBox>(*this, "IDC_PORT");
    m_fileName = Control<QLineEdit>(*this, "IDC_FILE_NAME");
    m_status = Control<QLineEdit>(*this, "IDC_STATUS");
    m_commandText = Control<QLineEdit>(*this, "IDC_COMMAND_TEXT");
    m_progress = Control<QProgressBar>(*this, "IDC_PROGRESS");
    m_run = Control<QPushButton>(*this, "IDC_RUN");

    m_port->addItem(QStringLiteral("USB Port"));
    for (int n = 1; n <= kSerialPorts; ++n) {
        m_port->addItem(QStringLiteral("COM%1").arg(n));
    }
    m_port->setCurrentIndex(0);
    m_port->setFocus();
    // The closed list shows the chosen entry's tooltip; the open list, each entry's own,
    // listed afresh as it opens.
    connect(m_port, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_port->setToolTip(m_port->itemData(index, Qt::ToolTipRole).toString());
    });
    m_port->view()->window()->installEventFilter(this);
    RefreshPortTooltips();

    for (QPushButton* button : findChildren<QPushButton*>()) {
        const int id = button->property("controlId").toInt();
        connect(button, &QPushButton::clicked, this, [this, id] { m_dlg.OnCommand(id); });
    }

    // A Windows build puts this entry in the window's real system menu; here the context
    // menu stands in for it.
    m_systemMenu = new QMenu(this);
    QAction* about = m_systemMenu->addAction(QStringLiteral("&About Tarvik Firmware Utility"));
    connect(about, &QAction::triggered, this, [this] { OnSysCommand(kIdmAboutBox); });

    m_closePoll.setInterval(kClosePollMs);
    connect(&m_closePoll, &QTimer::timeout, this, &UpdaterWindow::PollUpdateEnded);
    m_view.Attach(this);
}

UpdaterWindow::~UpdaterWindow() {
    m_closePoll.stop();
    // Torn down without closing (the application quits): the update ends first, and its
    // workers' calls are served meanwhile, as they may wait for the operator.
    if (m_dlg.UpdateRunning()) {
        m_dlg.CancelUpdate();
        while (m_dlg.UpdateRunning()) {
            QCoreApplication::processEvents();
            QThread::msleep(5);
        }
    }
    m_dlg.JoinWorkers();
    m_view.Attach(nullptr);
}

void UpdaterWindow::RefreshPortTooltips() {
    const ports::PortListing listing = ports::ListPorts(m_roots, m_portNames);
    for (int n = 0; n < m_port->count(); ++n) {
        const auto note = m_portNotes.find(n);
        m_port->setItemData(n,
                            note != m_portNotes.end()
                                ? note->second
                                : QString::fromStdString(ports::PortTooltip(listing, n)),
                            Qt::ToolTipRole);
    }
    m_port->setToolTip(m_port->currentData(Qt::ToolTipRole).toString());
}

void UpdaterWindow::SetPortNote(int index, const QString& note) {
    m_portNotes[index] = note;
    RefreshPortTooltips();
}

bool UpdaterWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show && watched == m_port->view()->window()) {
        RefreshPortTooltips();
    }
    return QDialog::eventFilter(watched, event);
}

void UpdaterWindow::OnSysCommand(unsigned id) {
    if ((id & 0xFFF0) == kIdmAboutBox) {
        AboutDialog about(this);
        about.exec();
    }
}

void UpdaterWindow::reject() {
    if (!m_closePoll.isActive()) {
        Answer(m_dlg.OnCancelOrOk());
    }
}

void UpdaterWindow::accept() {
    reject();
}

void UpdaterWindow::closeEvent(QCloseEvent* event) {
    event->setAccepted(!m_closePoll.isActive() && Answer(m_dlg.OnClose()));
}

bool UpdaterWindow::Answer(CloseAnswer answer) {
    switch (answer) {
        case CloseAnswer::Close:
            CloseNow();
            return true;
        case CloseAnswer::Stay:
            return false;
        case CloseAnswer::CloseWhenDone:
            // Never join here: the workers may be waiting for this thread to show a box.
            m_closePoll.start();
            return false;
    }
    return false;
}

void UpdaterWindow::PollUpdateEnded() {
    if (m_dlg.UpdateRunning()) {
        return;
    }
    m_closePoll.stop();
    m_dlg.JoinWorkers();  // their last act was enabling Run: they have ended
    CloseNow();
}

void UpdaterWindow::CloseNow() {
    QDialog::done(QDialog::Rejected);
}

void UpdaterWindow::keyPressEvent(QKeyEvent* event) {
    const bool shiftF10 = event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier;
    if (event->key() == Qt::Key_Menu || shiftF10) {
        QWidget* anchor = focusWidget() ? focusWidget() : this;
        ShowSystemMenu(anchor->mapToGlobal(anchor->rect().center()));
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == 0) {
        // No button is the default: Enter presses the focused button, else it is OK.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            button->click();
        } else {
            accept();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

void UpdaterWindow::contextMenuEvent(QContextMenuEvent* event) {
    ShowSystemMenu(event->globalPos());
}

void UpdaterWindow::ShowSystemMenu(const QPoint& globalPos) {
    m_systemMenu->popup(globalPos);
}

}  // namespace tarvik::qt
