#include "app/qt/AppIcon.h"

// Resources of a static library are registered only when something asks for them, and
// Q_INIT_RESOURCE must be called outside any namespace.
static void InitTarvikResources() {
    Q_INIT_RESOURCE(tarvik);
}

namespace tarvik::qt {

QIcon ApplicationIcon() {
    static const bool initialised = (InitTarvikResources(), true);
    (void)initialised;
    QIcon icon;
    for (const int size : {16, 32, 48, 256}) {
        icon.addFile(QStringLiteral(":/icons/tarvik-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

}  // namespace tarvik::qt
