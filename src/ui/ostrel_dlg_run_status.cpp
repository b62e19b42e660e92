#include "ui/controls/color_static.h"
#include "ui/ostrel_dlg.h"

#include <QTreeWidget>
#include <algorithm>

void COstrelDlg::FileFailed(std::size_t fileIndex, const std::string& reason) {
    failures_[fileIndex] = reason;
}

void COstrelDlg::RunEnded(RunOutcome outcome) {
    incompleteShown_ = outcome == RunOutcome::Incomplete;
    ShowStateField();
    // The player who stopped it is looking.
    if (outcome != RunOutcome::Stopped && !isActiveWindow()) {
        notification.Show(windowTitle(), QString::fromStdString(sectionLabels[ST_TRANS_STATE]->GetWindowText()));
    }
}

void COstrelDlg::OnRunningChanged(bool running) {
    if (running == running_) {
        return;
    }
    running_ = running;
    if (running) {
        // A new run: what failed last time may not fail again.
        failures_.clear();
        pickedFile_.reset();
        idleTitle_ = windowTitle();
    } else {
        setWindowTitle(idleTitle_);
    }
}

void COstrelDlg::ShowProgressInTitle(int percent) {
    // The task bar shows the title: the progress of a run is seen there with the window covered.
    if (running_) {
        setWindowTitle(QStringLiteral("%1% - %2").arg(percent).arg(idleTitle_));
    }
}

void COstrelDlg::OnRowPicked(QTreeWidgetItem* item) {
    if (launcherSelects_ || running_ || item == nullptr) {
        return;
    }
    pickedFile_ = launcher_.selection.FileOfRow(static_cast<std::size_t>(fileList->indexOfTopLevelItem(item)));
    ShowStateField();
}

// The launcher's state text, followed after a run by why a file failed: the picked one's, else the first.
void COstrelDlg::ShowStateField() {
    const std::string* reason = nullptr;
    if (const auto picked = pickedFile_ ? failures_.find(*pickedFile_) : failures_.end(); picked != failures_.end()) {
        reason = &picked->second;
    } else if (incompleteShown_ && !failures_.empty()) {
        const auto first = std::min_element(failures_.begin(), failures_.end(), [this](const auto& a, const auto& b) {
            return RowOfFile(a.first) < RowOfFile(b.first);
        });
        reason = &first->second;
    }
    sectionLabels[ST_TRANS_STATE]->SetWindowText(reason != nullptr ? stateText_ + ": " + *reason : stateText_);
}
