#include "net/file_validator.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/xattr.h>

namespace {

const std::string kDate = "Wed, 21 Oct 2015 07:28:00 GMT";

TEST(ChooseValidator, StrongEtagElseLastModifiedElseNone) {
    struct Case {
        std::string etag, lastModified;
        std::optional<std::string> chosen;
    } const cases[] = {
        {"\"5f3-1a\"", kDate, "\"5f3-1a\""},
        {"\"5f3-1a\"", "", "\"5f3-1a\""},
        {"W/\"5f3-1a\"", kDate, kDate},
        {"W/\"5f3-1a\"", "", std::nullopt},
        {"", kDate, kDate},
        {"", "", std::nullopt},
        // Not sendable back in an If-Range header: passed over like an absent one.
        {"\"a\"\r\nX-Injected: 1", kDate, kDate},
        {"\"" + std::string(2000, 'e') + "\"", "", std::nullopt},
        {"\"a\"", "Wed,\n21 Oct", "\"a\""},
        {"", "Wed,\n21 Oct", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChooseValidator(c.etag, c.lastModified), c.chosen) << c.etag << " | " << c.lastModified;
    }
}

class FileValidatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir.Write("game.pak", "partial");
        if (::setxattr(path.c_str(), "user.ostrel.probe", "1", 1, 0) != 0 && errno == ENOTSUP) {
            GTEST_SKIP() << "the temporary folder's file system keeps no user extended attributes";
        }
        ::removexattr(path.c_str(), "user.ostrel.probe");
    }
    void TearDown() override { SetFileValidatorStoreFails(false); }

    TempDir dir;
    const std::string path = dir.File("game.pak");
};

TEST_F(FileValidatorTest, StoredWithTheFileReplacedAndRemoved) {
    EXPECT_EQ(LoadFileValidator(path), std::nullopt);
    ASSERT_TRUE(StoreFileValidator(path, "\"v1\"", "cdn.example:80"));
    EXPECT_EQ(LoadFileValidator(path), "\"v1\"");
    ASSERT_TRUE(StoreFileValidator(path, kDate, "mirror.example:8080"));
    EXPECT_EQ(LoadFileValidator(path), kDate);
    EXPECT_EQ(LoadFileOrigin(path), "mirror.example:8080");

    // It travels with the file, not with its name.
    ASSERT_EQ(std::rename(path.c_str(), dir.File("moved.pak").c_str()), 0);
    EXPECT_EQ(LoadFileValidator(dir.File("moved.pak")), kDate);
    EXPECT_EQ(LoadFileValidator(path), std::nullopt);

    EXPECT_TRUE(RemoveFileValidator(dir.File("moved.pak")));
    EXPECT_EQ(LoadFileValidator(dir.File("moved.pak")), std::nullopt);
    EXPECT_EQ(LoadFileOrigin(dir.File("moved.pak")), std::nullopt);
    EXPECT_TRUE(RemoveFileValidator(dir.File("moved.pak"))); // none left is what was asked
    EXPECT_FALSE(RemoveFileValidator(path));
    EXPECT_FALSE(StoreFileValidator(path, "\"v1\"", "cdn.example:80"));
}

TEST_F(FileValidatorTest, RefusesWhatCannotBeSentBack) {
    EXPECT_FALSE(StoreFileValidator(path, "\"v1\"\r\nX-Injected: 1", "cdn.example:80"));
    EXPECT_FALSE(StoreFileValidator(path, "", "cdn.example:80"));
    // Written by something else: not sent.
    const std::string forged = "\"v1\"\r\nX-Injected: 1";
    ASSERT_EQ(::setxattr(path.c_str(), "user.ostrel.validator", forged.data(), forged.size(), 0), 0);
    EXPECT_EQ(LoadFileValidator(path), std::nullopt);
    const std::string huge(3000, 'x');
    ASSERT_EQ(::setxattr(path.c_str(), "user.ostrel.validator", huge.data(), huge.size(), 0), 0);
    EXPECT_EQ(LoadFileValidator(path), std::nullopt);
}

TEST_F(FileValidatorTest, ForcedFailureActsLikeAFileSystemWithoutAttributes) {
    SetFileValidatorStoreFails(true);
    errno = 0;
    EXPECT_FALSE(StoreFileValidator(path, "\"v1\"", "cdn.example:80"));
    EXPECT_EQ(errno, ENOTSUP);
    EXPECT_EQ(LoadFileValidator(path), std::nullopt);
    SetFileValidatorStoreFails(false);
    EXPECT_TRUE(StoreFileValidator(path, "\"v1\"", "cdn.example:80"));
}

} // namespace
