#include "app/qt/AboutDialog.h"

#include <QPushButton>

#include "app/qt/AppIcon.h"
#include "app/qt/DialogTemplate.h"

namespace tarvik::qt {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    BuildDialog(AboutDialogTemplate(), *this);
    setWindowIcon(ApplicationIcon());
    auto* ok = findChild<QPushButton*>(QStringLiteral("IDOK"));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    ok->setFocus();
}

}  // namespace tarvik::qt
