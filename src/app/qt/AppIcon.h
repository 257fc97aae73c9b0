#pragma once

#include <QIcon>

namespace tarvik::qt {

// The application's icon at every size the resources hold.
QIcon ApplicationIcon();

}  // namespace tarvik::qt
