#include "launcher/file_selection.h"

#include <gtest/gtest.h>

namespace {

TEST(FileSelection, ListWithoutRowsSelectsEveryFile) {
    FileSelection selection;
    selection.Reset({}, 3, true);
    EXPECT_TRUE(selection.IsFileSelected(0));
    EXPECT_TRUE(selection.IsFileSelected(2));
    EXPECT_EQ(selection.CheckedCount(), 0);
}

TEST(FileSelection, RowsDecideAndFilesWithoutRowAreNotSelected) {
    FileSelection selection;
    selection.Reset({0, 2}, 3, true); // file 1 has no row
    EXPECT_TRUE(selection.IsFileSelected(0));
    EXPECT_FALSE(selection.IsFileSelected(1));
    EXPECT_TRUE(selection.IsFileSelected(2));
    selection.SetRowChecked(1, false);
    EXPECT_FALSE(selection.IsFileSelected(2));
    EXPECT_EQ(selection.RowOfFile(2), 1);
    EXPECT_EQ(selection.RowOfFile(1), -1);
    EXPECT_EQ(selection.CheckedCount(), 1);

    FileSelection unchecked;
    unchecked.Reset({0, 1}, 2, false);
    EXPECT_FALSE(unchecked.IsFileSelected(0));
    EXPECT_EQ(unchecked.CheckedCount(), 0);
}

} // namespace
