#pragma once

#include <QDialog>

namespace tarvik::qt {

// The About box: icon, version line and OK.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace tarvik::qt
