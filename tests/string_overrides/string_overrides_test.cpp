#include "res/string_table.h"

#include <gtest/gtest.h>

// The texts of strings.txt beside this file replace the built-in ones, byte for byte.
TEST(StringOverrides, TextsOfTheFileReplaceTheBuiltInOnes) {
    EXPECT_EQ(LoadStringId(155), "Kestra Online");
    EXPECT_EQ(LoadStringId(157), "진행 막대를 \"설정\"하지 못했습니다;\n[다시] \\ 시도\t하십시오.");
}

TEST(StringOverrides, TextsTheFileLeavesOutStayBuiltIn) {
    EXPECT_EQ(LoadStringId(139), "오류");
    EXPECT_EQ(FormatStringId(110, "5", "1 MB"), "5% of 1 MB completed");
    EXPECT_EQ(LoadStringId(0), "");
}
