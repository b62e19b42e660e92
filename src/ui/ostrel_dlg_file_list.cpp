#include "launcher/url_names.h"
#include "ui/ostrel_dlg.h"

#include <QEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTreeWidget>

void COstrelDlg::InitFileList() {
    const ControlInfo* info = config_.Control(CT_FILE_LIST);
    launcher_.InitSelection(info != nullptr, info != nullptr && info->checked != 0);
    if (info == nullptr) {
        fileList->hide();
        return;
    }
    fileList->setColumnWidth(0, info->width - 70);
    fileList->setColumnWidth(1, 50);
    // By keys, or by a click, also on the row the launcher left current.
    connect(fileList, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) { OnRowPicked(item); });
    connect(fileList, &QTreeWidget::itemPressed, this, [this](QTreeWidgetItem* item) { OnRowPicked(item); });
    for (std::size_t row = 0; row < launcher_.selection.RowCount(); ++row) {
        const std::size_t file = launcher_.selection.FileOfRow(row);
        AddFileListItem(config_.files[file]->url, launcher_.selection.IsRowChecked(row));
    }
    if (info->visible != 0) {
        fileList->setGeometry(info->x, info->y, info->width, info->height);
        fileList->show();
    } else {
        fileList->hide();
    }
}

void COstrelDlg::AddFileListItem(const std::string& fileUrl, bool checked) {
    auto* item = new QTreeWidgetItem({QString::fromStdString(DisplayNameOfUrl(fileUrl)), QString()});
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
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
    launcher_.RequestSurvey();
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
