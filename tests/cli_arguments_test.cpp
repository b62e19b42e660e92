#include "cli/cli_arguments.h"

#include <gtest/gtest.h>

namespace {

TEST(CliArguments, LimitTakesAByteRateWithAnOptionalBinarySuffix) {
    struct Case {
        std::vector<std::string> arguments;
        std::optional<std::uint64_t> speedLimit;
    };
    const Case cases[] = {
        {{}, std::nullopt},
        {{"--limit", "0"}, 0},
        {{"--limit", "0M"}, 0},
        {{"--limit", "1500"}, 1500},
        {{"--limit", "500K"}, 500 * 1024},
        {{"--limit", "500k"}, 500 * 1024},
        {{"--limit", "2M"}, 2 * 1048576},
        {{"--limit", "20m", "--dir", "/games"}, 20 * 1048576},
        {{"--limit", "1M", "--limit", "3K"}, 3 * 1024},
        {{"--limit", "17592186044415M"}, 17592186044415ULL * 1048576}, // the largest M that fits in 64 bits
        {{"--limit", "18446744073709551615"}, 18446744073709551615ULL},
    };
    for (const Case& c : cases) {
        const std::string what = ::testing::PrintToString(c.arguments);
        std::string error;
        const std::optional<CliArguments> parsed = ParseCliArguments(c.arguments, error);
        ASSERT_TRUE(parsed) << what << ": " << error;
        EXPECT_EQ(parsed->speedLimit, c.speedLimit) << what;
    }
}

TEST(CliArguments, AMalformedLimitIsAUsageError) {
    const std::vector<std::string> rates = {"",
                                            "fast",
                                            "M",
                                            "2G",
                                            "2MB",
                                            "1.5M",
                                            "-1",
                                            "+2",
                                            " 2M",
                                            "2M ",
                                            "0x10",
                                            "2KM",
                                            "K2",
                                            "17592186044416M",
                                            "18446744073709551616"};
    for (const std::string& rate : rates) {
        std::string error;
        EXPECT_FALSE(ParseCliArguments({"--dir", "/games", "--limit", rate}, error)) << rate;
        EXPECT_NE(error.find("--limit"), std::string::npos) << rate << ": " << error;
    }
    std::string error;
    EXPECT_FALSE(ParseCliArguments({"--limit"}, error));
    EXPECT_EQ(error, "--limit needs a value");
}

} // namespace
