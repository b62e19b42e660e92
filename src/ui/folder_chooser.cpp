#include "ui/folder_chooser.h"

#include "launcher/disk_space.h"
#include "launcher/format_text.h"
#include "res/string_table.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <cstdio>

namespace {

constexpr int IDS_CHOOSE_FOLDER = 141;
constexpr int IDS_FOLDER_STATUS = 142;

} // namespace

std::string FolderStatusText(std::uint64_t neededBytes, const std::string& highlightedFolder) {
    const std::string pattern = LoadStringId(IDS_FOLDER_STATUS);
    const std::string needed = FormatSize(neededBytes);
    const std::string free = FormatSize(GetFreeDiskBytes(highlightedFolder));
    char text[512];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(text, sizeof text, pattern.c_str(), needed.c_str(), free.c_str());
#pragma GCC diagnostic pop
    return text;
}

std::optional<std::string> ChooseDownloadFolder(QWidget* owner, const std::string& start, std::uint64_t neededBytes) {
    QFileDialog dialog(owner, QString::fromStdString(LoadStringId(IDS_CHOOSE_FOLDER)));
    dialog.setObjectName(QStringLiteral("folderChooser"));
    // Qt's own dialog, so that the status text can stand under its list.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setFileMode(QFileDialog::Directory);
    // Opens on the current folder, highlighted among its siblings.
    const QFileInfo current(QString::fromStdString(start));
    dialog.setDirectory(current.absolutePath());
    dialog.selectFile(current.fileName());

    auto* status = new QLabel(&dialog);
    status->setObjectName(QStringLiteral("folderStatus"));
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
        grid->addWidget(status, grid->rowCount(), 0, 1, grid->columnCount());
    }
    QPushButton* ok = nullptr;
    if (auto* box = dialog.findChild<QDialogButtonBox*>()) {
        const auto accepting = box->buttons();
        for (QAbstractButton* button : accepting) {
            if (box->buttonRole(button) == QDialogButtonBox::AcceptRole) {
                ok = qobject_cast<QPushButton*>(button);
            }
        }
    }
    const auto highlight = [status, ok, neededBytes](const QString& folder) {
        status->setText(QString::fromStdString(FolderStatusText(neededBytes, folder.toStdString())));
        if (ok != nullptr) {
            ok->setEnabled(!folder.isEmpty());
        }
    };
    QObject::connect(&dialog, &QFileDialog::currentChanged, status, highlight);
    highlight(QString::fromStdString(start));

    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().front().toStdString();
}
