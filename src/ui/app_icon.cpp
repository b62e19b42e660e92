#include "ui/app_icon.h"

#include <QDir>
#include <QString>

QIcon ApplicationIcon() {
    // The images live in a static library: nothing would keep their registration in the program.
    Q_INIT_RESOURCE(app_icon);
    QIcon icon;
    const QDir images(QStringLiteral(":/icons"));
    for (const QString& name : images.entryList(QDir::Files)) {
        icon.addFile(images.filePath(name));
    }
    return icon;
}
