#include "launcher/url_names.h"

#include <gtest/gtest.h>

namespace {

TEST(UrlNames, FileNameIsTheLastSegment) {
    EXPECT_EQ(FileNameOfUrl("http://h/dir/setup.exe"), "setup.exe");
    EXPECT_EQ(FileNameOfUrl("http://h/get?f=a.pak"), "get?f=a.pak");
    EXPECT_EQ(FileNameOfUrl("setup.exe"), "setup.exe");
    EXPECT_EQ(FileNameOfUrl("/setup.exe"), "");
    EXPECT_EQ(FileNameOfUrl("http://h/dir/"), "");
}

TEST(UrlNames, DisplayNameIsThePathBelowTheHost) {
    struct Case {
        const char* url;
        const char* name;
    } const cases[] = {
        {"http://host/dir/setup.exe", "dir/setup.exe"},
        {"http://host/setup.exe", "setup.exe"},
        {"dir/setup.exe", "setup.exe"},
        {"//host/a.exe", "//host/a.exe"},
        {"http://host", "http://host"},
        {"setup.exe", "setup.exe"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DisplayNameOfUrl(c.url), c.name) << c.url;
    }
}

TEST(UrlNames, LocalPathStaysInsideTheFolder) {
    EXPECT_EQ(LocalPathForUrl("/d", "http://h/x/setup.exe").value_or("-"), "/d/setup.exe");
    EXPECT_EQ(LocalPathForUrl("/d", "setup.exe").value_or("-"), "/d/setup.exe");
    for (const char* url : {"", "http://h/dir/", "http://h/..", "http://h/.", "/x", "http://h/a\\..\\..\\b"}) {
        EXPECT_FALSE(LocalPathForUrl("/d", url).has_value()) << url;
    }
    const std::string folder = "/" + std::string(240, 'f');
    EXPECT_TRUE(LocalPathForUrl(folder, "http://h/" + std::string(17, 'n')).has_value()); // 259 characters
    EXPECT_FALSE(LocalPathForUrl(folder, "http://h/" + std::string(18, 'n')).has_value());
}

TEST(UrlNames, UrlsAndFolderNames) {
    EXPECT_TRUE(IsUrl("http://h/a.jpg"));
    EXPECT_TRUE(IsUrl("https://h/a.jpg"));
    EXPECT_TRUE(IsUrl("svn+ssh://h"));
    EXPECT_FALSE(IsUrl("background.jpg"));
    EXPECT_FALSE(IsUrl("C:\\skin\\a.jpg"));
    EXPECT_FALSE(IsUrl("dir/a:b.jpg"));
    EXPECT_FALSE(IsUrl(":x"));

    EXPECT_EQ(SafeFolderName("AmbrelLauncher"), "AmbrelLauncher");
    EXPECT_EQ(SafeFolderName("../../etc"), ".._.._etc");
    EXPECT_EQ(SafeFolderName(".."), "_");
    EXPECT_EQ(SafeFolderName(""), "");
}

} // namespace
