#include "app/qt/DialogTemplate.h"

#include <array>
#include <cmath>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include "app/UpdaterDlg.h"
#include "app/qt/AppIcon.h"

namespace tarvik::qt {
namespace {

using enum ControlKind;

// The main dialog, control for control in creation and tab order.
// clang-format off
constexpr std::array kMainControls = {
    //              id              name                kind          text                              x    y    w    h   shown  enabled max
    ControlTemplate{kIdStatic,      "IDC_STATIC",       Static,       "Port:",                         {20,  17,  16,  12}},
    ControlTemplate{kIdPort,        "IDC_PORT",         DropDownList, "",                              {41,  17,  86,  90}},
    ControlTemplate{kIdStatic,      "IDC_STATIC",       GroupBox,     "STEP 1",                        {6,   5,   126, 29}},
    ControlTemplate{kIdFileName,    "IDC_FILE_NAME",    Edit,         "",                              {16,  59,  73,  15}},
    ControlTemplate{kIdStatic,      "IDC_STATIC",       Static,       "Select a file for new firmware",{18,  47,  106, 8}},
    ControlTemplate{kIdBrowse,      "IDC_BROWSE",       PushButton,   "Search...",                     {94,  59,  34,  15}},
    ControlTemplate{kIdProgress,    "IDC_PROGRESS",     ProgressBar,  "",                              {142, 52,  128, 14}},
    ControlTemplate{kIdCommand,     "IDC_COMMAND",      PushButton,   "Command",                       {2,   62,  6,   6},  false},
    ControlTemplate{kIdStatic,      "IDC_STATIC",       GroupBox,     "STEP 2",                        {8,   37,  125, 44}},
    ControlTemplate{kIdStatus,      "IDC_STATUS",       Edit,         "",                              {143, 25,  94,  18}},
    ControlTemplate{kIdRun,         "IDC_RUN",          PushButton,   "Run ",                          {242, 26,  28,  18}},
    ControlTemplate{kIdStop,        "IDC_STOP",         PushButton,   "Stop",                          {240, 14,  26,  8},  false, false},
    ControlTemplate{kIdStatic,      "IDC_STATIC",       GroupBox,     "STEP 3",                        {137, 6,   138, 75}},
    ControlTemplate{kIdCommandText, "IDC_COMMAND_TEXT", Edit,         "",                              {2,   61,  6,   12}, false, true,  4},
    ControlTemplate{kIdStatic,      "IDC_STATIC",       GroupBox,     "others",                        {2,   54,  8,   9},  false},
    ControlTemplate{kIdReset,       "IDC_RESET",        PushButton,   "RESET",                         {2,   62,  6,   6},  false},
    ControlTemplate{kIdVersion,     "IDC_VERSION",      PushButton,   "Version",                       {2,   57,  6,   6},  false},
    ControlTemplate{kIdCradleId,    "IDC_CRADLE_ID",    PushButton,   "Button3",                       {2,   67,  6,   6},  false},
};

constexpr std::array kAboutControls = {
    ControlTemplate{kIdStatic,      "IDC_STATIC",       Icon,         "",                              {11,  17,  20,  20}},
    ControlTemplate{kIdStatic,      "IDC_STATIC",       Static,       "Quill Version 1.00",            {40,  10,  119, 8}},
    ControlTemplate{kIdOk,          "IDOK",             PushButton,   "OK",                            {161, 7,   46,  14}, true,  true,  0, true},
};
// clang-format on

constexpr DialogTemplate kMainDialog{"Olmen V1.00  05-08-2014", {275, 89}, kMainControls};
constexpr DialogTemplate kAboutDialog{"About Pelton upgrade tool", {223, 92}, kAboutControls};

int Scale(int units, int base, int divisor) {
    return static_cast<int>(std::lround(static_cast<double>(units) * base / divisor));
}

QWidget* CreateControl(const ControlTemplate& control, QDialog& dialog, BaseUnits base) {
    const QString text = QString::fromUtf8(control.text);
    QRect pixels = ToPixels(control.units, base);
    QWidget* widget = nullptr;
    switch (control.kind) {
        case Static: {
            auto* label = new QLabel(text, &dialog);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            widget = label;
            break;
        }
        case Icon: {
            auto* label = new QLabel(&dialog);
            label->setPixmap(ApplicationIcon().pixmap(pixels.size()));
            widget = label;
            break;
        }
        case DropDownList: {
            auto* combo = new QComboBox(&dialog);
            // The template's height counts the open list; the closed box is the combo's own.
            pixels.setHeight(combo->sizeHint().height());
            widget = combo;
            break;
        }
        case GroupBox: {
            auto* group = new QGroupBox(text, &dialog);
            // A frame only: the controls drawn inside it stay reachable by the mouse.
            group->setAttribute(Qt::WA_TransparentForMouseEvents);
            group->setFocusPolicy(Qt::NoFocus);
            widget = group;
            break;
        }
        case Edit: {
            auto* edit = new QLineEdit(text, &dialog);
            if (control.maxChars > 0) {
                edit->setMaxLength(control.maxChars);
            }
            widget = edit;
            break;
        }
        case PushButton: {
            auto* button = new QPushButton(text, &dialog);
            button->setAutoDefault(control.isDefault);
            button->setDefault(control.isDefault);
            widget = button;
            break;
        }
        case ProgressBar: {
            auto* progress = new QProgressBar(&dialog);
            progress->setRange(0, 100);
            progress->setValue(0);
            progress->setTextVisible(false);
            widget = progress;
            break;
        }
    }
    widget->setObjectName(QString::fromUtf8(control.name));
    widget->setProperty("controlId", control.id);
    widget->setGeometry(pixels);
    widget->setEnabled(control.enabled);
    widget->setVisible(control.visible);
    if (control.kind == GroupBox) {
        widget->lower();
    }
    return widget;
}

}  // namespace

const DialogTemplate& MainDialogTemplate() {
    return kMainDialog;
}

const DialogTemplate& AboutDialogTemplate() {
    return kAboutDialog;
}

QFont DialogFont() {
    QFont font = QApplication::font();
    font.setPointSize(10);
    return font;
}

BaseUnits DialogBaseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    return {Scale(metrics.horizontalAdvance(alphabet), 1, 52), metrics.height()};
}

QRect ToPixels(const QRect& units, BaseUnits base) {
    return {Scale(units.x(), base.x, 4), Scale(units.y(), base.y, 8),
            Scale(units.width(), base.x, 4), Scale(units.height(), base.y, 8)};
}

BaseUnits BuildDialog(const DialogTemplate& dialogTemplate, QDialog& dialog) {
    dialog.setFont(DialogFont());
    const BaseUnits base = DialogBaseUnits(dialog.font());
    dialog.setWindowTitle(QString::fromUtf8(dialogTemplate.caption));
    dialog.setFixedSize(ToPixels(QRect(QPoint(0, 0), dialogTemplate.units), base).size());
    QWidget* previous = nullptr;
    for (const ControlTemplate& control : dialogTemplate.controls) {
        QWidget* widget = CreateControl(control, dialog, base);
        if (widget->focusPolicy() == Qt::NoFocus) {
            continue;
        }
        if (previous) {
            QWidget::setTabOrder(previous, widget);
        }
        previous = widget;
    }
    return base;
}

}  // namespace tarvik::qt
