#pragma once

#include <span>

#include <QFont>
#include <QRect>

class QDialog;
class QWidget;

namespace tarvik::qt {

// Ids of the controls that have no command of their own in the logic.
inline constexpr int kIdStatic = -1;
inline constexpr int kIdPort = 1001;
inline constexpr int kIdReset = 1007;
inline constexpr int kIdVersion = 1008;
inline constexpr int kIdCommand = 1018;
inline constexpr int kIdFileName = 1019;
inline constexpr int kIdProgress = 1021;
inline constexpr int kIdStatus = 1024;
inline constexpr int kIdCradleId = 1029;
inline constexpr int kIdCommandText = 1045;
inline constexpr int kIdOk = 1;

enum class ControlKind { Static, DropDownList, GroupBox, Edit, PushButton, ProgressBar, Icon };

// One control as a resource template states it, in dialog units.
struct ControlTemplate {
    int id;
    const char* name;  // the widget's object name
    ControlKind kind;
    const char* text;
    QRect units;
    bool visible = true;
    bool enabled = true;
    int maxChars = 0;        // edits: 0 for no limit
    bool isDefault = false;  // push buttons
};

struct DialogTemplate {
    const char* caption;
    QSize units;
    std::span<const ControlTemplate> controls;  // creation and tab order
};

const DialogTemplate& MainDialogTemplate();
const DialogTemplate& AboutDialogTemplate();

// The dialog font's base units, from which dialog units scale to pixels.
struct BaseUnits {
    int x;
    int y;
};

// The application's default font at 10 point: the template's own font is not on Linux.
QFont DialogFont();
BaseUnits DialogBaseUnits(const QFont& font);
// Dialog units to pixels, rounded as the template's system rounds them.
QRect ToPixels(const QRect& units, BaseUnits base);

// Sizes `dialog` and creates the template's controls on it, in order, with the template's
// tab order; returns the dialog units' base.
BaseUnits BuildDialog(const DialogTemplate& dialogTemplate, QDialog& dialog);

}  // namespace tarvik::qt
