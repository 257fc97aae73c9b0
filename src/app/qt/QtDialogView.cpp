#include "app/qt/QtDialogView.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>

#include "app/qt/UpdaterWindow.h"

namespace tarvik::qt {
namespace {

QString ToQt(const std::string& text) {
    return QString::fromStdString(text);
}

QMessageBox::Icon BoxIcon(unsigned type) {
    switch (type & 0xF0) {
        case kMbIconHand:
            return QMessageBox::Critical;
        case kMbIconExclamation:
            return QMessageBox::Warning;
        default:
            return QMessageBox::NoIcon;
    }
}

}  // namespace

void QtDialogView::Attach(UpdaterWindow* window) {
    m_window = window;
}

void QtDialogView::OnGuiThread(std::function<void(UpdaterWindow&)> act, bool wait) {
    UpdaterWindow* window = m_window;
    if (!window) {
        return;
    }
    if (QThread::currentThread() == window->thread()) {
        act(*window);
        return;
    }
    // A queued call still pending when the window goes is dropped with it; a worker that
    // waits is served before the window goes (see ~UpdaterWindow).
    QMetaObject::invokeMethod(
        window, [window, act = std::move(act)] { act(*window); },
        wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}

void QtDialogView::ShowData(const DialogData& data) {
    OnGuiThread(
        [data](UpdaterWindow& window) {
            window.PortList().setCurrentIndex(data.m_nPort);
            window.FileEdit().setText(ToQt(data.m_strFileTitle));
            window.StatusEdit().setText(ToQt(data.m_strStatus));
            window.StatusEdit().setCursorPosition(0);  // a long status reads from its start
            window.CommandEdit().setText(ToQt(data.m_strCommand));
        },
        false);
}

void QtDialogView::ReadData(DialogData& data) {
    OnGuiThread(
        [&data](UpdaterWindow& window) {
            data.m_nPort = window.PortList().currentIndex();
            data.m_strFileTitle = window.FileEdit().text().toStdString();
            data.m_strStatus = window.StatusEdit().text().toStdString();
            data.m_strCommand = window.CommandEdit().text().toStdString();
        },
        true);
}

void QtDialogView::ShowMessageBox(const MessageBoxRequest& request) {
    OnGuiThread(
        [this, &request](UpdaterWindow& window) {
            QMessageBox box(BoxIcon(request.type), ToQt(request.caption), ToQt(request.text),
                            QMessageBox::Ok, &window);
            // A device's reply is shown as it came, never read as markup.
            box.setTextFormat(Qt::PlainText);
            if (m_boxHook) {
                m_boxHook(box);
            }
            box.exec();
        },
        true);
}

void QtDialogView::SetProgress(int position) {
    OnGuiThread([position](UpdaterWindow& window) { window.Progress().setValue(position); }, false);
}

void QtDialogView::EnableRun(bool enable) {
    OnGuiThread([enable](UpdaterWindow& window) { window.RunButton().setEnabled(enable); }, false);
}

std::optional<std::filesystem::path> QtDialogView::AskFirmwareFile() {
    std::optional<std::filesystem::path> chosen;
    OnGuiThread(
        [this, &chosen](UpdaterWindow& window) {
            QFileDialog dialog(&window);
            // Qt's own dialog: the same on every desktop, and one a test can drive.
            dialog.setOption(QFileDialog::DontUseNativeDialog);
            dialog.setFileMode(QFileDialog::ExistingFile);
            dialog.setAcceptMode(QFileDialog::AcceptOpen);
            dialog.setNameFilters({QStringLiteral("Firmware file(*.bin)"),
                                   QStringLiteral("ELF executable (*.out)"),
                                   QStringLiteral("All files (*)")});
            dialog.setDefaultSuffix(QStringLiteral("bin"));
            if (m_fileDialogHook) {
                m_fileDialogHook(dialog);
            }
            if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
                chosen = std::filesystem::path(dialog.selectedFiles().front().toStdString());
            }
        },
        true);
    return chosen;
}

bool QtDialogView::Confirm(const std::string& caption, const std::string& text) {
    bool yes = false;
    OnGuiThread(
        [this, &yes, &caption, &text](UpdaterWindow& window) {
            QMessageBox box(QMessageBox::Question, ToQt(caption), ToQt(text),
                            QMessageBox::Yes | QMessageBox::No, &window);
            box.setDefaultButton(QMessageBox::No);
            box.setTextFormat(Qt::PlainText);
            if (m_boxHook) {
                m_boxHook(box);
            }
            yes = box.exec() == QMessageBox::Yes;
        },
        true);
    return yes;
}

}  // namespace tarvik::qt
