#include "ui/about_dlg.h"

#include "build_options.h"
#include "ui/ostrel_app.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent != nullptr ? parent : ProgramMainWindow()) {
    setWindowTitle(QStringLiteral("About " OSTREL_DISPLAY_NAME));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    icon->setPixmap(QApplication::windowIcon().pixmap(32, 32));
    auto* version = new QLabel(QStringLiteral(OSTREL_DISPLAY_NAME ", Version " OSTREL_VERSION_TEXT), this);
    version->setObjectName(QStringLiteral("version"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* line = new QHBoxLayout;
    line->addWidget(icon, 0, Qt::AlignTop);
    line->addSpacing(12);
    line->addWidget(version, 1, Qt::AlignVCenter);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(line);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}
