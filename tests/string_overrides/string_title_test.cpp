#include "res/string_table.h"

#include <gtest/gtest.h>

// Built under the display name Kestra Online with no strings file: that name is the window's title,
// and every other text stays built in.
TEST(StringTitle, TheDisplayNameIsTheTitleWhenNoTextGivesOne) {
    EXPECT_EQ(LoadStringId(155), "Kestra Online");
    EXPECT_EQ(LoadStringId(139), "오류");
}
