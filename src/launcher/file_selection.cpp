#include "launcher/file_selection.h"

void FileSelection::Reset(std::vector<std::size_t> fileOfRow, std::size_t fileCount, bool checked) {
    fileOfRow_ = std::move(fileOfRow);
    rowOfFile_.assign(fileCount, -1);
    for (std::size_t row = 0; row < fileOfRow_.size(); ++row) {
        rowOfFile_[fileOfRow_[row]] = static_cast<int>(row);
    }
    checked_ = std::make_unique<std::atomic<bool>[]>(fileOfRow_.size());
    for (std::size_t row = 0; row < fileOfRow_.size(); ++row) {
        checked_[row].store(checked);
    }
}

int FileSelection::RowOfFile(std::size_t file) const {
    return file < rowOfFile_.size() ? rowOfFile_[file] : -1;
}

bool FileSelection::IsRowChecked(std::size_t row) const {
    return checked_[row].load(std::memory_order_relaxed);
}

void FileSelection::SetRowChecked(std::size_t row, bool checked) {
    checked_[row].store(checked, std::memory_order_relaxed);
}

bool FileSelection::IsFileSelected(std::size_t file) const {
    if (fileOfRow_.empty()) {
        return true;
    }
    const int row = RowOfFile(file);
    return row >= 0 && IsRowChecked(static_cast<std::size_t>(row));
}

int FileSelection::CheckedCount() const {
    int count = 0;
    for (std::size_t row = 0; row < fileOfRow_.size(); ++row) {
        count += IsRowChecked(row) ? 1 : 0;
    }
    return count;
}
