#include "config/value_forms.h"

#include <gtest/gtest.h>

namespace {

TEST(ValueForms, IntegerReadsLikeAtoi) {
    struct Case {
        const char* text;
        int value;
    } const cases[] = {
        {"8", 8},
        {"  -12x", -12},
        {"+7", 7},
        {"true", 0},
        {"", 0},
        {"3.9", 3},
        {"99999999999", 2147483647},
        {"-99999999999", -2147483647 - 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseInteger(c.text), c.value) << '"' << c.text << '"';
    }
}

TEST(ValueForms, PairSplitsAtTheFirstComma) {
    struct Case {
        const char* text;
        int x, y;
    } const cases[] = {
        {"192,476", 192, 476}, {"192", 192, 192}, {"5,", 5, 0}, {",5", -1, -1}, {"1,2,3", 1, 2}, {"a,b", 0, 0},
    };
    for (const auto& c : cases) {
        int x = -1, y = -1;
        ParsePair(c.text, x, y);
        EXPECT_EQ(x, c.x) << c.text;
        EXPECT_EQ(y, c.y) << c.text;
    }
}

TEST(ValueForms, ColourReadsThreeNumbers) {
    struct Case {
        const char* text;
        int r, g, b;
    } const cases[] = {
        {"98,98,98", 98, 98, 98}, {"255,0", 255, 0, 255}, {"200", 200, 200, 200},
        {",1,2", -1, -1, -1},     {"1,,3", 1, 0, 3},      {"10,20,30,40", 10, 20, 30},
    };
    for (const auto& c : cases) {
        int r = -1, g = -1, b = -1;
        ParseColour(c.text, r, g, b);
        EXPECT_EQ(r, c.r) << c.text;
        EXPECT_EQ(g, c.g) << c.text;
        EXPECT_EQ(b, c.b) << c.text;
    }
}

TEST(ValueForms, CountIsDigitsOnlyWithinTheIntRange) {
    struct Case {
        const char* text;
        bool accepted;
        int count;
    } const cases[] = {
        {"0", true, 0},
        {"2", true, 2},
        {"007", true, 7},
        {"2147483647", true, 2147483647},
        {"2147483648", false, -1},
        {"99999999999999999999", false, -1},
        {"-1", false, -1},
        {"+2", false, -1},
        {" 2", false, -1},
        {"2 ", false, -1},
        {"2.0", false, -1},
        {"two", false, -1},
        {"", false, -1},
        {"0x10", false, -1},
    };
    for (const auto& c : cases) {
        int count = -1;
        EXPECT_EQ(ParseCount(c.text, count), c.accepted) << '"' << c.text << '"';
        EXPECT_EQ(count, c.count) << '"' << c.text << '"';
    }
}

TEST(ValueForms, FlagIsTrueOnlyForTheWordTrue) {
    EXPECT_TRUE(ParseFlag("true"));
    EXPECT_TRUE(ParseFlag("TRUE"));
    EXPECT_TRUE(ParseFlag("tRuE"));
    EXPECT_FALSE(ParseFlag("1"));
    EXPECT_FALSE(ParseFlag("true "));
    EXPECT_FALSE(ParseFlag(""));
    EXPECT_FALSE(ParseFlag(nullptr));
}

} // namespace
