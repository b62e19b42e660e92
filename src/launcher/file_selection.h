#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <vector>

// The check states of the file list, readable from the worker thread without touching the widget.
// Row r shows the file at position FileOfRow(r); a file without a row is never selected, and a list
// without rows selects every file.
class FileSelection {
public:
    // Called once, before any worker exists; `fileOfRow` holds positions below `fileCount`.
    void Reset(std::vector<std::size_t> fileOfRow, std::size_t fileCount, bool checked);

    std::size_t RowCount() const { return fileOfRow_.size(); }
    std::size_t FileOfRow(std::size_t row) const { return fileOfRow_[row]; }
    // The row of a file, or -1.
    int RowOfFile(std::size_t file) const;

    bool IsRowChecked(std::size_t row) const;
    void SetRowChecked(std::size_t row, bool checked);
    bool IsFileSelected(std::size_t file) const;
    int CheckedCount() const;

private:
    std::vector<std::size_t> fileOfRow_;
    std::vector<int> rowOfFile_;
    std::unique_ptr<std::atomic<bool>[]> checked_;
};
