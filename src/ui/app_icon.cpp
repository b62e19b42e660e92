#include "ui/app_icon.h"

#include <QString>

QIcon ApplicationIcon() {
    // The images live in a static library: nothing would keep their registration in the program.
    Q_INIT_RESOURCE(app_icon);
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/ostrel-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}
