#include "ui/ostrel_dlg.h"
#include "workflow/url_names.h"

#include <QEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTreeWidget>

void COstrelDlg::InitFileList() {
    const ControlInfo* info = config_.Control(CT_FILE_LIST);
    if (info == nullptr) {
        fileList->hide();
        selection.Reset({}, config_.files.size(), false);
        return;
    }
    fileList->setColumnWidth(0, info->width - 70);
    fileList->setColumnWidth(1, 50);
    for (std::size_t i = 0; i < config_.files.size(); ++i) {
        AddFileListItem(config_.files[i]->url, i);
    }
    std::vector<std::size_t> fileOfRow;
    for (int row = 0; row < fileList->topLevelItemCount(); ++row) {
        fileOfRow.push_back(fileList->topLevelItem(row)->data(0, Qt::UserRole).value<std::size_t>());
    }
    selection.Reset(std::move(fileOfRow), config_.files.size(), info->checked != 0);
    if (info->visible != 0) {
        fileList->setGeometry(info->x, info->y, info->width, info->height);
        fileList->show();
    } else {
        fileList->hide();
    }
}

void COstrelDlg::AddFileListItem(const std::string& fileUrl, std::size_t fileIndex) {
    if (fileUrl.empty()) {
        return;
    }
    // Rows keep the position of their file, so a file without a row does not shift the others.
    auto* item = new QTreeWidgetItem({QString::fromStdString(DisplayNameOfUrl(fileUrl)), QString()});
    item->setData(0, Qt::UserRole, QVariant::fromValue(fileIndex));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    const ControlInfo* info = config_.Control(CT_FILE_LIST);
    item->setCheckState(0, info != nullptr && info->checked != 0 ? Qt::Checked : Qt::Unchecked);
    item->setTextAlignment(1, Qt::AlignCenter);
    fileList->addTopLevelItem(item);
}

bool COstrelDlg::OnNMClickFileList(const QPoint& position) {
    QTreeWidgetItem* item = fileList->itemAt(position);
    if (item == nullptr) {
        return false;
    }
    QStyleOptionViewItem option;
    option.initFrom(fileList->viewport());
    option.rect = fileList->visualItemRect(item);
    option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    option.checkState = item->checkState(0);
    const QRect checkBox = fileList->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, fileList);
    if (!checkBox.contains(position)) {
        return false;
    }
    item->setCheckState(0, item->checkState(0) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    InitTotalInfo();
    return true;
}

bool COstrelDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == fileList->viewport() && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        // The list's own toggle of a clicked check box is replaced by this one, which also surveys.
        if (mouse->button() == Qt::LeftButton && OnNMClickFileList(mouse->position().toPoint())) {
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
