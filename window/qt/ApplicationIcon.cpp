#include "window/qt/ApplicationIcon.h"

QIcon ApplicationIcon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1x%1/apps/orvelle.png").arg(size), QSize(size, size));
    return icon;
}
